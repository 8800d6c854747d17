// The credential service against clients that try to get what is not theirs: files that hold
// the directory whatever their name, and more connections than one address may hold.
#include "core/CConfigFile.h"
#include "service/HttpResponses.h"
#include "tests/service/ServiceTestSupport.h"

#include <gtest/gtest.h>

namespace {

using svctest::Exchange;

class HostileClient : public svctest::CServiceTest {};

std::string Bytes(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST_F(HostileClient, NoFileThatBeginsLikeAnExportIsServedWhateverItsName) {
    CUserTable users;
    users[u"bob"] = std::make_unique<CUserData>(u"bob", u"secret");
    CGroupTable groups;
    groups[u"ops"] = std::make_unique<CGroupData>(u"ops");
    CGroupTable manyGroups;
    for (int i = 0; i < 0xFFFF; ++i) {
        const std::u16string name = u"g" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(0x100 + i / 26));
        manyGroups[name] = std::make_unique<CGroupData>(name);
    }
    struct {
        const char* name;
        std::string content;
        bool bServed;
    } const cases[] = {
        {"backup.cfg", Bytes(CConfigFile::Serialize(groups, users)), false},
        {"users-only.txt", Bytes(CConfigFile::Serialize({}, users)), false},
        {"empty.bin", Bytes(CConfigFile::Serialize({}, {})), false},
        {"long-count.dat", Bytes(CConfigFile::Serialize(manyGroups, {})).substr(0, 64), false},
        {"zeros.bin", std::string(8, '\0'), true},
        {"short.bin", std::string(2, '\0'), true},
        {"page.htm", "<html>ok</html>", true},
        {"nothing.htm", "", true},
    };
    for (const auto& c : cases) {
        m_docRoot.Write(c.name, c.content);
    }
    StartService();
    for (const auto& c : cases) {
        const std::string response =
            Exchange(Port(), "GET /" + std::string(c.name) + " HTTP/1.0\r\n\r\n");
        if (c.bServed) {
            EXPECT_TRUE(response.starts_with("HTTP/1.0 200 OK\r\n")) << c.name;
            EXPECT_TRUE(response.ends_with("\r\n\r\n" + c.content)) << c.name;
        } else {
            EXPECT_EQ(response, kNotFoundResponse) << c.name;
        }
    }
}

} // namespace
