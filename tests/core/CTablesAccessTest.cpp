// The way into the tables from outside core: what a reader sees before and after shutdown, which
// ways in move the generation, and a handle that outlives its core.
#include "core/COrvaneSrvCore.h"
#include "platform/text/TextConv.h"
#include "tests/core/CoreTestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <tuple>

namespace {

class Tables : public ::testing::Test {
protected:
    void SetUp() override { m_pCore = StartCore(m_dir / "registry.db"); }
    uint64_t Generation() const {
        return m_pCore->Read([](const CTablesView& t) { return t.generation; });
    }
    void AddServer(const std::u16string& mac) {
        m_pCore->ChangeServers([&](CServerTable& servers) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(Utf16ToUtf8(mac));
            servers.Add(mac, std::move(record));
        });
    }

    CTempDir m_dir;
    std::unique_ptr<COrvaneSrvCore> m_pCore;
};

TEST_F(Tables, ReadersSeeTheTablesUntilShutdownThenNothing) {
    AddServer(u"00:11");
    const auto seen = [this] {
        return m_pCore->Read([](const CTablesView& t) {
            return std::tuple(t.bAlive, t.users.size(), t.groups.size(), t.servers.Size());
        });
    };
    EXPECT_EQ(seen(), std::tuple(true, 1u, 2u, 1u));
    EXPECT_EQ(m_pCore->UserRecord(u"admin")->m_listGroups,
              (std::vector<std::u16string>{u"Administrator", u"Everyone"}));
    EXPECT_STREQ(m_pCore->ServerRecord(u"00:11")->m_szMAC, "00:11");
    EXPECT_FALSE(m_pCore->ServerRecord(u"00:99"));

    m_pCore->FreeTables();
    EXPECT_EQ(seen(), std::tuple(false, 0u, 0u, 0u));
    EXPECT_FALSE(m_pCore->UserRecord(u"admin"));
    EXPECT_TRUE(m_pCore->GroupNames().empty());
    bool bRan = false;
    EXPECT_FALSE(m_pCore->ChangeServers([&](CServerTable&) { bRan = true; }));
    EXPECT_FALSE(bRan);
}

// The "/Query" cache reuses an answer while the generation stands: every change must move it,
// and nothing that only reads may.
TEST_F(Tables, ChangesMoveTheGenerationAndReadsDoNot) {
    struct Case {
        const char* what;
        std::function<void(COrvaneSrvCore&)> step;
        bool bMoves;
    };
    const Case cases[] = {
        {"read", [](COrvaneSrvCore& c) { c.Read([](const CTablesView&) {}); }, false},
        {"snapshots",
         [](COrvaneSrvCore& c) {
             c.UserRecord(u"admin");
             c.GroupNames();
             c.ServerRecord(u"00:11");
         },
         false},
        {"server change", [](COrvaneSrvCore& c) { c.ChangeServers([](CServerTable&) {}); }, true},
        {"directory message",
         [](COrvaneSrvCore& c) {
             c.SendMessage(
                 CDirectoryMessage::AddUser(true, std::make_unique<CUserData>(u"u", u"p")));
         },
         true},
        {"import", [](COrvaneSrvCore& c) { c.MergeImported({}, {}); }, true},
    };
    for (const Case& c : cases) {
        const uint64_t before = Generation();
        c.step(*m_pCore);
        EXPECT_EQ(Generation() != before, c.bMoves) << c.what;
    }
}

// A connection thread keeps its handle past the core's end: it must find the tables gone, not
// read freed memory.
TEST_F(Tables, AHandleThatOutlivesTheCoreFindsTheTablesGone) {
    const CTablesAccess tables = m_pCore->Tables();
    m_pCore.reset();
    EXPECT_FALSE(tables.Read([](const CTablesView& t) { return t.bAlive || !t.users.empty(); }));
    EXPECT_FALSE(tables.ChangeServers([](CServerTable& servers) { servers.Clear(); }));
}

} // namespace
