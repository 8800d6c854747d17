// The storage server table and its records: exact keys, ownership, the per-pass flag, and
// values cut to what their fields hold.
#include "storage/CServerTable.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

std::unique_ptr<CServerData> Record(const char* mac) {
    auto record = std::make_unique<CServerData>();
    record->SetMAC(mac);
    return record;
}

TEST(CServerTable, KeysAreExactAndTheEmptyKeyIsOneRecord) {
    CServerTable table;
    table.Add(u"00:AA", Record("00:AA"));
    table.Add(u"", Record(""));
    EXPECT_NE(table.Find(u"00:AA"), nullptr);
    EXPECT_EQ(table.Find(u"00:aa"), nullptr);
    EXPECT_NE(table.Find(u""), nullptr);
    EXPECT_EQ(table.Size(), 2u);
    table.Remove(u"00:AA");
    table.Remove(u"missing");
    EXPECT_EQ(table.Find(u"00:AA"), nullptr);
    EXPECT_EQ(table.Size(), 1u);
}

TEST(CServerTable, AlikeKeysIgnoreCaseAndSeparatorsAndFollowRemovals) {
    CServerTable table;
    table.Add(u"02:4f:00", Record("02:4f:00"));
    table.Add(u"02:4F:00", Record("02:4F:00")); // another host announcing the same in capitals
    table.Add(u"02:4f:00", Record("02:4f:00")); // filed again in place
    std::vector<const CServerData*> found;
    table.FindAlike(u"02-4F-00", found);
    EXPECT_EQ(found.size(), 2u);
    table.Remove(u"02:4F:00");
    found.clear();
    table.FindAlike(u"024f00", found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], table.Find(u"02:4f:00"));
    table.Clear();
    found.clear();
    table.FindAlike(u"02:4f:00", found);
    EXPECT_TRUE(found.empty());
}

TEST(CServerTable, BeginPassClearsSeenAndForEachVisitsEveryRecord) {
    CServerTable table;
    for (const char* mac : {"a", "b", "c"}) {
        table.Add(std::u16string(mac, mac + 1), Record(mac));
    }
    EXPECT_EQ(table.Find(u"a")->m_bSeen, 1);
    table.BeginPass();
    std::map<std::u16string, std::string> seen;
    table.ForEach([&](const std::u16string& key, CServerData& record) {
        EXPECT_EQ(record.m_bSeen, 0);
        EXPECT_EQ(record.m_bOnline, 1);
        seen[key] = record.m_szMAC;
    });
    EXPECT_EQ(seen, (std::map<std::u16string, std::string>{{u"a", "a"}, {u"b", "b"}, {u"c", "c"}}));
    table.Clear();
    EXPECT_EQ(table.Size(), 0u);
}

TEST(CServerTable, MembershipMovesOnlyWhenARecordIsFiledOrRemoved) {
    CServerTable table;
    const CServerTable other;
    EXPECT_NE(table.Membership(), other.Membership());
    struct Case {
        const char* what;
        std::function<void(CServerTable&)> change;
        bool bMoves;
    };
    const Case cases[] = {
        {"filed", [](CServerTable& t) { t.Add(u"00:AA", Record("00:AA")); }, true},
        {"changed in place", [](CServerTable& t) { t.Find(u"00:AA")->SetIPAddr("10.0.0.1"); },
         false},
        {"a new pass", [](CServerTable& t) { t.BeginPass(); }, false},
        {"nothing removed", [](CServerTable& t) { t.Remove(u"missing"); }, false},
        {"removed", [](CServerTable& t) { t.Remove(u"00:AA"); }, true},
        {"cleared", [](CServerTable& t) { t.Clear(); }, true},
    };
    for (const Case& c : cases) {
        const uint64_t before = table.Membership();
        c.change(table);
        EXPECT_EQ(table.Membership() != before, c.bMoves) << c.what;
        EXPECT_NE(table.Membership(), other.Membership()) << c.what;
    }
}

TEST(CServerData, ValuesAreCutToTheirFields) {
    CServerData record;
    EXPECT_EQ(record.m_bAuthorized, 0);
    record.SetVendor(std::string(40, 'v'));
    EXPECT_EQ(std::strlen(record.m_szVendor), 32u);
    record.SetMAC("00:11:22:33:44:55:66:77");
    EXPECT_STREQ(record.m_szMAC, "00:11:22:33:44:55:6");
    record.SetType("");
    EXPECT_STREQ(record.m_szType, "");
    // A cut never splits a UTF-8 sequence.
    record.SetVersion("123456789012345\xC3\xA9");
    EXPECT_STREQ(record.m_szVersion, "123456789012345");
    record.SetVersion("12345678901234\xC3\xA9");
    EXPECT_STREQ(record.m_szVersion, "12345678901234");
    // The login response is bytes, kept whole up to its limit, cut exactly there.
    const std::string body = std::string(81918, 'r') + "\xC3\xA9" + std::string(5, '\0');
    record.SetLoginResponse(body);
    EXPECT_EQ(record.m_szLoginResponse, body.substr(0, 81919));
    record.SetLoginResponse(std::string_view("a\0b", 3));
    EXPECT_EQ(record.m_szLoginResponse, std::string("a\0b", 3));
    // A record without a login response is small: ten thousand servers fit in a few megabytes.
    EXPECT_LT(sizeof(CServerData), 512u);
}

} // namespace
