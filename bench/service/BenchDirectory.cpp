// The benchmarks' directory; see BenchDirectory.h.
#include "bench/service/BenchDirectory.h"

#include "core/CDirectoryMessage.h"

#include <cstdio>
#include <memory>

namespace bench {

std::u16string U16(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string Name(const char* prefix, int i) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%04d", prefix, i);
    return text;
}

void FillDirectory(COrvaneSrvCore& core, const DirectoryGroupsOf& directoryGroupsOf) {
    for (int g = 0; g < 100; ++g) {
        auto group = std::make_unique<CGroupData>(U16(Name("group", g)));
        if (directoryGroupsOf) {
            group->m_listDirectoryGroups = directoryGroupsOf(g);
        }
        core.SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
        auto access = std::make_unique<CGroupData>(U16(Name("group", g)));
        for (int k = 0; k < 20; ++k) {
            access->m_listAccess.push_back(U16(Name("00:00:00:00:", (g * 2 + k * 10) % 200)));
        }
        core.SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(access)));
    }
    for (int u = 0; u < 1000; ++u) {
        auto user = std::make_unique<CUserData>(U16(Name("user", u)), u"password");
        for (int k = 0; k < 3; ++k) {
            user->m_listGroups.push_back(U16(Name("group", (u + k * 33) % 100)));
        }
        core.SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
    }
    // A user of no group: the same request path with an empty document.
    core.SendMessage(
        CDirectoryMessage::AddUser(false, std::make_unique<CUserData>(u"nogroups", u"password")));
    core.ChangeServers([](CServerTable& servers) {
        for (int s = 0; s < 200; ++s) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(Name("00:00:00:00:", s));
            record->SetIPAddr("192.168.10." + std::to_string(s));
            record->SetSystemName(Name("array-", s));
            record->SetProduct("Vault 9000");
            record->SetType("SAN");
            record->m_bAuthorized = 1;
            // As a login leaves it, with the element that lists it rendered.
            record->SetLoginCredentials(u"admin", u"adminpassword");
            servers.Add(U16(Name("00:00:00:00:", s)), std::move(record));
        }
    });
}

} // namespace bench
