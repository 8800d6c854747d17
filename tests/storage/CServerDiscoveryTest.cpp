// Discovery passes against a scripted SLP layer: what a pass files in the table and shows in the
// list, the sweep at its end, sightings at another address that never move a record, servers
// named by no address, passes that never overlap, what the pass thread skips, and a shutdown
// while a pass is still inside the library.
#include "storage/CServerDiscovery.h"

#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "storage/CServerRowList.h"
#include "storage/ServerElement.h"
#include "tests/storage/CFakeSlp.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kGuardTimer = 999;

std::string Url(const std::string& host) {
    return "service:raid.004417://" + host;
}

CFakeService Service(const std::string& host, const std::string& mac,
                     const std::string& more = ",(hostname=h),(product=P),(version=1.0)") {
    return {Url(host), "(mac=" + mac + ")" + more};
}

// The list with a count of the calls that walk it, to show that neither sightings nor the sweep
// look at every row for every server.
class CCountingList : public CServerRowList {
public:
    std::u16string CellText(std::size_t row, EServerColumn col) const override {
        ++m_nCellReads;
        return CServerRowList::CellText(row, col);
    }
    void DeleteRows(std::span<const std::size_t> rows) override {
        m_listDeletes.emplace_back(rows.begin(), rows.end());
        CServerRowList::DeleteRows(rows);
    }
    void ShowAddressState(std::size_t row, EAddressState state,
                          std::u16string_view claims) override {
        m_mapStates[Utf16ToUtf8(CServerRowList::CellText(row, EServerColumn::MAC))] = {
            state, Utf16ToUtf8(claims)};
    }
    void ShowDetails(std::size_t row, const CServerRowDetails& details) override {
        m_mapDetails[Utf16ToUtf8(CServerRowList::CellText(row, EServerColumn::MAC))] = details;
    }
    mutable std::size_t m_nCellReads = 0;
    std::vector<std::vector<std::size_t>> m_listDeletes;
    std::map<std::string, std::pair<EAddressState, std::string>> m_mapStates; // by MAC
    std::map<std::string, CServerRowDetails> m_mapDetails;                    // by MAC
};

class Discovery : public ::testing::Test {
protected:
    Discovery() { CFakeSlp::Instance().Reset(); }

    // One query at a time unless asked: servers are then filed in the order they were found.
    std::unique_ptr<CServerDiscovery> Make(std::size_t queriesAtOnce = 1) {
        CServerDiscovery::CHooks hooks;
        hooks.enableRefresh = [this](bool on) { m_listRefresh.push_back(on); };
        hooks.refreshAccountServers = [this] { ++m_nAccountRefreshes; };
        hooks.logLine = [this](std::string_view line) { m_listLog.emplace_back(line); };
        hooks.addressConflict = [this](std::u16string_view mac, std::u16string_view bound,
                                       std::string_view announcedAt) {
            m_listAudit.push_back(Utf16ToUtf8(mac) + " " + Utf16ToUtf8(bound) + " " +
                                  std::string(announcedAt));
        };
        hooks.arrayPresence = [this](const CArrayPresence& news) {
            const std::string kind = news.eKind == EArrayPresence::Left ? "left " : "back ";
            m_listPresence.push_back(kind + (news.nMore > 0 ? "+" + std::to_string(news.nMore)
                                                            : Utf16ToUtf8(news.mac) + " " +
                                                                  Utf16ToUtf8(news.ip) + " " +
                                                                  Utf16ToUtf8(news.systemName)));
        };
        return std::make_unique<CServerDiscovery>(m_table, m_pGuard, m_list, m_loop.Window(), hooks,
                                                  CFakeSlp::Functions(), queriesAtOnce);
    }

    // Runs the window thread until the running pass has ended.
    void Finish() {
        m_loop.SetTimer(kGuardTimer, 60s, [&] { m_loop.Quit(); });
        ASSERT_TRUE(m_loop.RunUntil([&] { return !m_pDiscovery->IsDiscovering(); }));
        m_loop.KillTimer(kGuardTimer);
    }
    void Pass(std::vector<CFakeService> services) {
        CFakeSlp::Instance().SetServices(std::move(services));
        if (m_bFirst) {
            m_pDiscovery->StartFirstPass();
            m_bFirst = false;
        } else {
            m_pDiscovery->OnTimer();
        }
        Finish();
    }

    // "ip|system name|product|version|mac|auth" per row.
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (std::size_t row = 0; row < m_list.RowCount(); ++row) {
            std::string text;
            for (std::size_t col = 0; col < kServerColumnCount; ++col) {
                text += (col ? "|" : "") +
                        Utf16ToUtf8(m_list.CellText(row, static_cast<EServerColumn>(col)));
            }
            rows.push_back(text);
        }
        return rows;
    }
    std::vector<std::string> Ips() const {
        std::vector<std::string> ips;
        for (std::size_t row = 0; row < m_list.RowCount(); ++row) {
            ips.push_back(Utf16ToUtf8(m_list.CellText(row, EServerColumn::IPAddr)));
        }
        return ips;
    }
    CServerData* Record(const char16_t* mac) { return m_table.Find(mac); }
    // A successful login to the server at ip, as the login client records it.
    CServerData& Authorize(const char16_t* mac, const char* ip) {
        CServerData& record = *Record(mac);
        record.m_bAuthorized = 1;
        record.SetAuthorizedIP(ip);
        record.SetLoginResponse("<ok/>");
        record.SetLoginCredentials(u"admin", u"secret");
        return record;
    }

    CEventLoop m_loop;
    CServerTable m_table;
    std::shared_ptr<CTableGuard> m_pGuard = std::make_shared<CTableGuard>();
    CCountingList m_list;
    std::vector<bool> m_listRefresh;
    int m_nAccountRefreshes = 0;
    std::vector<std::string> m_listLog;
    std::vector<std::string> m_listAudit;
    std::vector<std::string> m_listPresence;
    std::unique_ptr<CServerDiscovery> m_pDiscovery = Make();
    bool m_bFirst = true;
};

TEST_F(Discovery, ServersAreFiledAndListedInArrivalOrderWithTheFirstSelected) {
    const auto before = std::chrono::system_clock::now();
    Pass({{Url("10.0.0.7"),
           "(mac=00:07),(hostname=seven),(vendor=Tarvik Networks),(type=NAS),(model=Evask),"
           "(product=Z210-R2),(version=2.1)"},
          {Url("10.0.0.3:51000/x"), "(mac=00:03),(product=Y220)"},
          Service("10.0.0.5", "00:05")});
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"10.0.0.7|seven|Z210-R2|2.1|00:07|No",
                                        "10.0.0.3||Y220||00:03|No", "10.0.0.5|h|P|1.0|00:05|No"}));
    EXPECT_EQ(m_list.SelectedRow(), 0u);
    const CServerData& seven = *Record(u"00:07");
    EXPECT_STREQ(seven.m_szVendor, "Tarvik Networks");
    EXPECT_STREQ(seven.m_szType, "NAS");
    EXPECT_STREQ(seven.m_szModel, "Evask");
    EXPECT_STREQ(seven.m_szIPAddr, "10.0.0.7");
    EXPECT_EQ(seven.m_bSeen, 1);
    EXPECT_EQ(seven.m_bOnline, 1);
    // The list is told what it may show beyond the six columns, the last sighting too.
    const CServerRowDetails shown = m_list.m_mapDetails.at("00:07");
    EXPECT_EQ(shown.vendor + u"|" + shown.model + u"|" + shown.type, u"Tarvik Networks|Evask|NAS");
    EXPECT_GE(seven.m_lastSeen, before);
    EXPECT_EQ(shown.lastSeen, seven.m_lastSeen);
    // No type is "SAN", no model is empty.
    EXPECT_STREQ(Record(u"00:03")->m_szType, "SAN");
    EXPECT_STREQ(Record(u"00:03")->m_szModel, "");
    EXPECT_STREQ(Record(u"00:03")->m_szIPAddr, "10.0.0.3");
    // The first pass starts without BeginPass, and its end hands the Refresh button back.
    EXPECT_EQ(m_listRefresh, std::vector<bool>{true});
    EXPECT_EQ(m_nAccountRefreshes, 1);
    EXPECT_EQ(CFakeSlp::Instance().Queries().front(), "service:raid.004417|default|");
    EXPECT_EQ(CFakeSlp::Instance().Queries()[1], Url("10.0.0.7") + "|default|");
    EXPECT_EQ(CFakeSlp::Instance().OpenHandles(), 0);

    // A later sighting without some attributes: type and model fall back, the others stay.
    Pass({{Url("10.0.0.7"), "(mac=00:07),(vendor=Other)"},
          Service("10.0.0.3", "00:03"),
          Service("10.0.0.5", "00:05")});
    EXPECT_EQ(Rows()[0], "10.0.0.7|seven|Z210-R2|2.1|00:07|No");
    EXPECT_STREQ(seven.m_szVendor, "Other");
    EXPECT_GT(seven.m_lastSeen, shown.lastSeen);
    EXPECT_EQ(m_list.m_mapDetails.at("00:07").vendor, u"Other");
    EXPECT_STREQ(seven.m_szType, "SAN");
    EXPECT_STREQ(seven.m_szModel, "");
}

TEST_F(Discovery, RowsKeepTheirPlacesAndUnseenServersAreSweptTogether) {
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b"), Service("10.0.0.3", "c"),
          Service("10.0.0.4", "d"), Service("10.0.0.5", "e")});
    // b and c, adjacent, miss a pass; d answers first this time.
    Pass({Service("10.0.0.4", "d"), Service("10.0.0.1", "a"), Service("10.0.0.5", "e")});
    EXPECT_EQ(Ips(), (std::vector<std::string>{"10.0.0.1", "10.0.0.4", "10.0.0.5"}));
    EXPECT_EQ(Record(u"b"), nullptr);
    EXPECT_EQ(Record(u"c"), nullptr);
    EXPECT_EQ(m_table.Size(), 3u);
    // Back again: a new row at the bottom, starting over unauthorized.
    Pass({Service("10.0.0.2", "b"), Service("10.0.0.1", "a"), Service("10.0.0.4", "d"),
          Service("10.0.0.5", "e")});
    EXPECT_EQ(Ips(), (std::vector<std::string>{"10.0.0.1", "10.0.0.4", "10.0.0.5", "10.0.0.2"}));
    EXPECT_EQ(m_list.SelectedRow(), 0u);
}

// Only a row that goes, and the same MAC's row coming back later, are news: not a first
// sighting, not a re-sighting, not an array announced elsewhere while its own address is silent.
TEST_F(Discovery, ArraysLeavingTheListAndComingBackAreToldOnceEach) {
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b"), Service("10.0.0.3", "c")});
    Authorize(u"c", "10.0.0.3");
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b"), Service("10.0.0.3", "c")});
    EXPECT_TRUE(m_listPresence.empty());
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.66", "c")});
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.66", "c")});
    EXPECT_EQ(m_listPresence, std::vector<std::string>{"left b 10.0.0.2 h"});
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b"), Service("10.0.0.3", "c")});
    Pass({Service("10.0.0.1", "a")}); // rows a, c, b: c goes first
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.3", "c")});
    EXPECT_EQ(m_listPresence, (std::vector<std::string>{"left b 10.0.0.2 h", "back b 10.0.0.2 h",
                                                        "left c 10.0.0.3 h", "left b 10.0.0.2 h",
                                                        "back c 10.0.0.3 h"}));
    const std::string b = "the array with MAC address b (system name \"h\") at 10.0.0.2 ";
    // b left twice and came back once.
    for (const auto& [line, times] :
         {std::pair{b + "left the System list: it did not answer this discovery pass", 2},
          std::pair{b + "is back in the System list", 1}}) {
        EXPECT_EQ(std::count(m_listLog.begin(), m_listLog.end(), line), times) << line;
    }
}

// A LAN announcing and withdrawing many arrays gets a bounded number of lines and records a
// pass, of each kind, and one more that counts the rest.
TEST_F(Discovery, LeavingAndComingBackAreNamedUpToTheBoundOfAPassAndTheRestCounted) {
    constexpr std::size_t kBound = CServerDiscovery::kMaxPresenceNewsPerPass;
    constexpr std::size_t kFleet = kBound + 5;
    std::vector<CFakeService> fleet;
    for (std::size_t i = 0; i < kFleet; ++i) {
        fleet.push_back(Service("10.0.2." + std::to_string(i), "m" + std::to_string(i)));
    }
    Pass(fleet);
    for (const std::string kind : {"left ", "back "}) {
        m_listLog.clear();
        m_listPresence.clear();
        Pass(kind == "left " ? std::vector<CFakeService>{} : fleet);
        ASSERT_EQ(m_listPresence.size(), kBound + 1) << kind;
        EXPECT_EQ(m_listPresence.back(), kind + "+5");
        ASSERT_EQ(m_listLog.size(), kBound + 1) << kind;
        EXPECT_EQ(m_listLog.back(),
                  "... and 5 more arrays " +
                      std::string(kind == "left " ? "left the System list"
                                                  : "came back to the System list") +
                      " in this discovery pass");
    }
    // The next pass's bound starts afresh.
    m_listPresence.clear();
    Pass({fleet[0]});
    EXPECT_EQ(m_listPresence.size(), kBound + 1);
}

TEST_F(Discovery, AnAuthorizedServerThatMissesAPassStaysOfflineWithItsCredentials) {
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b")});
    CServerData& a = Authorize(u"a", "10.0.0.1");
    Pass({Service("10.0.0.2", "b")});
    EXPECT_EQ(Ips(), std::vector<std::string>{"10.0.0.2"});
    ASSERT_EQ(Record(u"a"), &a);
    EXPECT_EQ(a.m_bOnline, 0);
    EXPECT_EQ(a.m_bSeen, 0);
    EXPECT_EQ(a.m_strLoginPasswd, u"secret");
    // Back: its row comes last and says "Yes".
    Pass({Service("10.0.0.2", "b"), Service("10.0.0.1", "a")});
    EXPECT_EQ(Rows()[1], "10.0.0.1|h|P|1.0|a|Yes");
    EXPECT_EQ(a.m_bOnline, 1);

    // A library that cannot be opened ends the pass with no sightings: every row goes, only
    // the authorized record stays.
    CFakeSlp::Instance().SetOpenFails(true);
    Pass({});
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(m_table.Size(), 1u);
    EXPECT_EQ(a.m_bOnline, 0);
    // The first row of an emptied list is selected again.
    CFakeSlp::Instance().SetOpenFails(false);
    Pass({Service("10.0.0.2", "b")});
    EXPECT_EQ(m_list.SelectedRow(), 0u);
}

// An announcement is a rumour: whoever else announces an array's MAC never moves its row, its
// login address or its credentials; the array is only marked in conflict, which the log and the
// audit trail hear of once per address, and which clears three passes after the claims stop.
TEST_F(Discovery, AnotherAddressAnnouncingAServerPutsItInConflictAndNeverMovesIt) {
    const auto fleet = [](const std::string& aAt, const std::string& bAt, const std::string& cAt) {
        std::vector<CFakeService> services;
        for (const auto& [at, mac] : {std::pair{aAt, "a"}, {bAt, "b"}, {cAt, "c"}}) {
            if (!at.empty()) {
                services.push_back(Service(at, mac, ",(hostname=" + at + "),(product=P)"));
            }
        }
        return services;
    };
    Pass(fleet("10.0.0.1", "10.0.0.2", "10.0.0.3"));
    Authorize(u"a", "10.0.0.1");
    Authorize(u"b", "10.0.0.2");
    CServerData& c = Authorize(u"c", "10.0.0.3");
    // Impostors claim a's MAC (a silent) and b's (announced before b itself); c misses a pass
    // and then shows up elsewhere only.
    auto impostors = fleet("10.0.0.66", "10.0.0.77", "");
    impostors.push_back(Service("10.0.0.2", "b", ",(hostname=10.0.0.2),(product=P)"));
    Pass(impostors);
    EXPECT_EQ(c.m_bOnline, 0);
    Pass(fleet("10.0.0.66", "10.0.0.2", "10.0.0.33"));
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"10.0.0.1|10.0.0.1|P||a|Yes", "10.0.0.2|10.0.0.2|P||b|Yes",
                                        "10.0.0.3|10.0.0.3|P||c|Yes"}));
    for (const char16_t* mac : {u"a", u"b", u"c"}) {
        const CServerData& record = *Record(mac);
        EXPECT_EQ(record.m_bAuthorized, 1);
        EXPECT_EQ(record.m_strLoginPasswd, u"secret");
        EXPECT_STREQ(record.m_szAuthorizedIP, record.m_szIPAddr);
        EXPECT_EQ(record.AddressState(), EAddressState::Conflict);
    }
    // Only a server seen at its own address is served.
    EXPECT_EQ(Record(u"a")->m_bOnline, 0);
    EXPECT_EQ(Record(u"b")->m_bOnline, 1);
    EXPECT_EQ(m_list.m_mapStates["c"],
              std::pair(EAddressState::Conflict, std::string("10.0.0.33")));
    // c's row left with its silent pass and came back with the claim: two lines of their own.
    const auto conflictLines = [this] {
        return std::count_if(m_listLog.begin(), m_listLog.end(), [](const std::string& line) {
            return line.find("is also announced at") != std::string::npos;
        });
    };
    EXPECT_EQ(conflictLines(), 3) << "one line per new address";
    EXPECT_EQ(m_listLog.size(), 5u);
    ASSERT_EQ(m_listAudit.size(), 3u);
    EXPECT_EQ(m_listAudit[0], "a 10.0.0.1 10.0.0.66");
    // a's own address has now missed three passes while another announces it: "moved?".
    Pass(fleet("10.0.0.66", "10.0.0.2", "10.0.0.3"));
    EXPECT_EQ(Record(u"a")->AddressState(), EAddressState::Moved);
    EXPECT_EQ(m_list.m_mapStates["a"].first, EAddressState::Moved);
    EXPECT_EQ(Ips(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    // The claims stop: three passes later the conflicts are gone, without another word.
    for (int pass = 1; pass <= CServerData::kPassesToForget; ++pass) {
        Pass(fleet("10.0.0.1", "10.0.0.2", "10.0.0.3"));
        EXPECT_EQ(Record(u"a")->AddressState(), pass < CServerData::kPassesToForget
                                                    ? EAddressState::Conflict
                                                    : EAddressState::Bound)
            << pass;
    }
    for (const char* mac : {"a", "b", "c"}) {
        EXPECT_EQ(m_list.m_mapStates[mac].first, EAddressState::Bound) << mac;
    }
    EXPECT_EQ(m_listLog.size(), 5u);
}

// One host announcing many MACs (as if it were a whole fleet) is heard for its first four only.
TEST_F(Discovery, OneAddressIsHeardForFourMacsAPassAndTheRestIsLoggedOnce) {
    std::vector<CFakeService> services = {Service("10.0.0.1", "real")};
    for (int i = 0; i < 10; ++i) {
        services.push_back(
            {Url("10.0.0.66/" + std::to_string(i)), "(mac=m" + std::to_string(i) + ")"});
    }
    services.push_back({Url("10.0.0.66/real"), "(mac=real)"});
    Pass(services);
    EXPECT_EQ(m_list.RowCount(), 5u);
    EXPECT_EQ(Record(u"real")->AddressState(), EAddressState::Bound);
    ASSERT_EQ(m_listLog.size(), 1u);
    EXPECT_NE(m_listLog[0].find("ignores 7 MAC addresses announced from 10.0.0.66"),
              std::string::npos)
        << m_listLog[0];
}

TEST_F(Discovery, TheListedElementFollowsEverySightingAndGoesWithTheAuthorization) {
    Pass({Service("10.0.0.1", "a")});
    CServerData& a = Authorize(u"a", "10.0.0.1");
    constexpr std::string_view kCredentials = R"( LoginUserName="admin" LoginPasswd="secret"/>)";
    struct Step {
        std::string attrs;   // besides the MAC
        std::string element; // without the credentials; empty: no element
    };
    const Step steps[] = {
        {",(hostname=h),(product=P)",
         R"(<StorageServer Product="P" Type="SAN" SystemName="h" MAC="a" IPAddr="10.0.0.1")"},
        {",(hostname=h2),(product=P)",
         R"(<StorageServer Product="P" Type="SAN" SystemName="h2" MAC="a" IPAddr="10.0.0.1")"},
        {",(hostname=h2),(product=Q&R),(type=NAS)",
         R"(<StorageServer Product="Q&amp;R" Type="NAS" SystemName="h2" MAC="a" IPAddr="10.0.0.1")"},
        {",(type=iSCSI)",
         R"(<StorageServer Product="Q&amp;R" Type="iSCSI" SystemName="h2" MAC="a" IPAddr="10.0.0.1")"},
    };
    for (const Step& step : steps) {
        Pass({Service("10.0.0.1", "a", step.attrs)});
        EXPECT_EQ(a.Element(), step.element + std::string(kCredentials)) << step.attrs;
    }
    // The service's cached answers live as long as the generation stands: a pass that finds the
    // array as it is moves it only at its start and end, one that changes the element once more.
    const auto moves = [&](const std::string& attrs) {
        const uint64_t before = m_pGuard->Generation();
        Pass({Service("10.0.0.1", "a", attrs)});
        return m_pGuard->Generation() - before;
    };
    const uint64_t unchanged = moves(",(type=iSCSI)");
    EXPECT_LE(unchanged, 2u);
    EXPECT_EQ(moves(",(type=NAS)"), unchanged + 1);
    // Swept, the record keeps its element for its return; announced elsewhere, it keeps it too.
    Pass({});
    EXPECT_EQ(a.m_bOnline, 0);
    const std::string element = a.Element();
    EXPECT_FALSE(element.empty());
    Pass({Service("10.0.0.9", "a", ",(hostname=evil)")});
    EXPECT_EQ(a.m_bAuthorized, 1);
    EXPECT_EQ(a.Element(), element);
}

TEST_F(Discovery, ServersNotNamedByAPlainIpv4AddressAreLeftOutWithOneLinePerPass) {
    const std::vector<CFakeService> services = {
        Service("array-7.lan", "n1"), Service("2130706433", "n2"), Service("10.0.0.1", "ok"),
        Service("127.1", "n3"), Service("010.0.0.9", "n4")};
    Pass(services);
    EXPECT_EQ(Rows(), std::vector<std::string>{"10.0.0.1|h|P|1.0|ok|No"});
    EXPECT_EQ(m_table.Size(), 1u);
    ASSERT_EQ(m_listLog.size(), 1u);
    EXPECT_NE(m_listLog[0].find("4 servers"), std::string::npos) << m_listLog[0];
    EXPECT_NE(m_listLog[0].find("array-7.lan"), std::string::npos) << m_listLog[0];
    Pass(services);
    EXPECT_EQ(m_listLog.size(), 2u);
    Pass({Service("10.0.0.1", "ok")});
    EXPECT_EQ(m_listLog.size(), 2u);
}

TEST_F(Discovery, ServersSharingAMacShareOneRowThatTheFirstSetsUnlessTheyAnnounceNone) {
    Pass({Service("10.0.0.1", "same", ",(hostname=first)"),
          Service("10.0.0.2", "same", ",(hostname=second)"),
          {Url("10.0.0.3"), "(hostname=no mac one)"},
          {Url("10.0.0.4"), "(hostname=no mac two),(version=9)"}});
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"10.0.0.1|first|||same|No", "10.0.0.4|no mac two||9||No"}));
    EXPECT_EQ(m_table.Size(), 2u);
    EXPECT_STREQ(Record(u"")->m_szSystemName, "no mac two");
    EXPECT_STREQ(Record(u"")->m_szMAC, "");
}

TEST_F(Discovery, AMacThatDoesNotFitSkipsTheServerWhileOtherValuesAreCut) {
    const std::string mac19(19, 'm');
    const std::string mac20(20, 'm');
    // 62 bytes, then a two-byte character that does not fit the 63 the field holds.
    const std::string longName = std::string(62, 'n') + "\xC3\xA9";
    Pass({{Url("10.0.0.1"), "(mac=" + mac20 + "),(hostname=too long a mac)"},
          {Url("10.0.0.2"), "(mac=" + mac19 + "),(hostname=" + longName +
                                "),(vendor=" + std::string(40, 'v') +
                                "),(product=" + std::string(40, 'p') + ")"}});
    ASSERT_EQ(m_listLog.size(), 1u);
    EXPECT_NE(m_listLog[0].find("10.0.0.1"), std::string::npos) << m_listLog[0];
    EXPECT_NE(m_listLog[0].find(mac20), std::string::npos) << m_listLog[0];
    EXPECT_EQ(m_table.Size(), 1u);
    // A MAC text with a line break of its own cannot start a line in the log.
    m_pDiscovery->OnServerFound("10.0.0.9", "(mac=" + mac19 + "\\0Afake line)");
    ASSERT_EQ(m_listLog.size(), 2u);
    EXPECT_EQ(m_listLog[1].find('\n'), std::string::npos);
    EXPECT_NE(m_listLog[1].find(mac19 + "?fake line"), std::string::npos) << m_listLog[1];
    EXPECT_EQ(Ips(), std::vector<std::string>{"10.0.0.2"});

    const CServerData& record = *Record(Utf8ToUtf16(mac19).c_str());
    EXPECT_EQ(std::string(record.m_szSystemName), std::string(62, 'n'));
    EXPECT_EQ(std::string(record.m_szVendor), std::string(32, 'v'));
    EXPECT_EQ(std::string(record.m_szProduct), std::string(31, 'p'));
    EXPECT_EQ(Rows()[0], "10.0.0.2|" + std::string(62, 'n') + "|" + std::string(31, 'p') + "||" +
                             mac19 + "|No");
    // Every record sits under the text of its own MAC field.
    m_table.ForEach(
        [](const std::u16string& key, CServerData& r) { EXPECT_EQ(key, Utf8ToUtf16(r.m_szMAC)); });
}

TEST_F(Discovery, PassesNeverOverlapAndRefreshComesBackWithTheEnd) {
    // A record from before the first pass shows that the first pass clears no sighting.
    auto early = std::make_unique<CServerData>();
    early->SetMAC("early");
    m_table.Add(u"early", std::move(early));
    m_list.SetCellText(m_list.AppendRow(u"10.0.0.99"), EServerColumn::MAC, u"early");
    Pass({Service("10.0.0.1", "a")});
    EXPECT_NE(Record(u"early"), nullptr);
    EXPECT_EQ(m_list.RowCount(), 2u);

    CFakeSlp& fake = CFakeSlp::Instance();
    fake.CloseGate();
    m_pDiscovery->OnRefresh();
    fake.WaitUntilHeld();
    EXPECT_TRUE(m_pDiscovery->IsDiscovering());
    EXPECT_EQ(Record(u"a")->m_bSeen, 0); // the pass began
    // Neither a tick nor another click starts a pass or touches the table meanwhile.
    Record(u"a")->m_bSeen = 1;
    m_pDiscovery->OnTimer();
    m_pDiscovery->OnRefresh();
    EXPECT_EQ(Record(u"a")->m_bSeen, 1);
    EXPECT_EQ(fake.Searches(), 2);
    EXPECT_EQ(m_listRefresh, (std::vector<bool>{true, false, false}));
    // A waiter for the pass under way hears of its end once; with no pass, at once.
    const auto firstEnd = m_pDiscovery->LastPassEnd();
    ASSERT_TRUE(firstEnd.has_value());
    std::vector<int> ended;
    m_pDiscovery->WhenPassEnds([&] { ended.push_back(1); });
    EXPECT_TRUE(ended.empty());
    fake.OpenGate();
    Finish();
    m_pDiscovery->WhenPassEnds([&] { ended.push_back(2); });
    EXPECT_EQ(ended, (std::vector<int>{1, 2}));
    EXPECT_GE(*m_pDiscovery->LastPassEnd(), *firstEnd);
    EXPECT_EQ(m_listRefresh, (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(m_nAccountRefreshes, 2);
    EXPECT_EQ(fake.Searches(), 2);
    EXPECT_EQ(Record(u"early"), nullptr); // missed the second pass
}

TEST_F(Discovery, ThePassThreadSkipsWhatItCannotReadAndUsesTheFirstReplyOnly) {
    const std::string prefix = Url("10.0.0.5") + "/";
    const std::string url127 = prefix + std::string(127 - prefix.size(), 'u');
    Pass({{url127 + "x", "(mac=too long)"},
          {url127, "(mac=fits),(hostname=first reply)"},
          {"not a url", "(mac=unparsable)"},
          {Url("10.0.0.6"), "(mac=error)", SLP_NETWORK_TIMED_OUT},
          {Url("10.0.0.7"), "(mac=no handle)", SLP_OK, true},
          Service("10.0.0.8", "good")});
    // The query handle that could not be opened costs nothing: the next one asks instead.
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"10.0.0.5|first reply|||fits|No",
                                        "10.0.0.7||||no handle|No", "10.0.0.8|h|P|1.0|good|No"}));
    EXPECT_EQ(m_table.Size(), 3u);
    EXPECT_EQ(CFakeSlp::Instance().OpenHandles(), 0);
}

TEST_F(Discovery, TheSearchOnlyCollectsAndSixteenQueriesRunAtOnceAfterIt) {
    m_pDiscovery = Make(CServerDiscovery::kMaxQueriesAtOnce);
    std::vector<CFakeService> services;
    for (int i = 0; i < 40; ++i) {
        services.push_back(Service("10.0.2." + std::to_string(i), "q" + std::to_string(i)));
    }
    CFakeSlp& fake = CFakeSlp::Instance();
    fake.SetServices(services);
    fake.CloseGate();
    m_pDiscovery->StartFirstPass();
    // A silent server holds its own query only: the others' go on beside it.
    EXPECT_TRUE(fake.WaitUntilHeld(16));
    fake.OpenGate();
    Finish();
    EXPECT_FALSE(fake.QueriedDuringASearch()) << "an attribute query held up the search";
    EXPECT_EQ(fake.MostHeld(), 16);
    EXPECT_EQ(m_table.Size(), 40u);
    EXPECT_EQ(fake.OpenHandles(), 0);
}

TEST_F(Discovery, ServersTheTableKnowsAreAskedBeforeNewOnes) {
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b")});
    const std::size_t before = CFakeSlp::Instance().Queries().size();
    Pass({Service("10.0.9.1", "new1"), Service("10.0.0.2", "b"), Service("10.0.9.2", "new2"),
          Service("10.0.0.1", "a")});
    const std::vector<std::string> queries = CFakeSlp::Instance().Queries();
    ASSERT_EQ(queries.size(), before + 5);
    EXPECT_EQ(
        std::vector<std::string>(queries.begin() + static_cast<long>(before) + 1, queries.end()),
        (std::vector<std::string>{Url("10.0.0.2") + "|default|", Url("10.0.0.1") + "|default|",
                                  Url("10.0.9.1") + "|default|", Url("10.0.9.2") + "|default|"}));
}

TEST_F(Discovery, UrlsBeyondTheLimitOfAPassAreIgnoredWithALogLine) {
    m_pDiscovery = Make(CServerDiscovery::kMaxQueriesAtOnce);
    std::vector<CFakeService> services;
    for (int i = 0; i < 20003; ++i) {
        services.push_back(
            Service("10." + std::to_string(i / 256) + ".0." + std::to_string(i % 256),
                    "u" + std::to_string(i)));
    }
    Pass(services);
    EXPECT_EQ(m_table.Size(), 20000u);
    EXPECT_EQ(Record(u"u20000"), nullptr);
    ASSERT_EQ(m_listLog.size(), 1u);
    EXPECT_NE(m_listLog[0].find("ignores 3 service URLs beyond the first 20000"), std::string::npos)
        << m_listLog[0];
}

TEST_F(Discovery, ASightingLeavesALoginUnderWayItsCell) {
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.2", "b"), Service("10.0.0.3", "c")});
    for (std::size_t row : {0, 1}) {
        m_list.SetCellText(row, EServerColumn::Auth, u"Logging"); // a Login press
    }
    // a is seen where it was, b somewhere else; c has no login.
    Pass({Service("10.0.0.1", "a"), Service("10.0.0.9", "b"), Service("10.0.0.3", "c")});
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"10.0.0.1|h|P|1.0|a|Logging", "10.0.0.2|h|P|1.0|b|Logging",
                                        "10.0.0.3|h|P|1.0|c|No"}));
}

TEST_F(Discovery, TheSweepReadsEachRowOnceAndDeletesInOneBatch) {
    std::vector<CFakeService> all;
    std::vector<CFakeService> even;
    for (int i = 0; i < 40; ++i) {
        all.push_back(Service("10.0.1." + std::to_string(i), "m" + std::to_string(i)));
        if (i % 2 == 0) {
            even.push_back(all.back());
        }
    }
    Pass(all);
    m_list.m_nCellReads = 0;
    Pass(even);
    // 20 sightings find their rows through the index and read their Auth cell; the sweep reads
    // one cell per row.
    EXPECT_EQ(m_list.m_nCellReads, 60u);
    ASSERT_EQ(m_list.m_listDeletes.size(), 1u);
    EXPECT_EQ(m_list.m_listDeletes[0].size(), 20u);
    EXPECT_EQ(m_list.RowCount(), 20u);
    EXPECT_EQ(Utf16ToUtf8(m_list.CellText(1, EServerColumn::MAC)), "m2");
}

TEST_F(Discovery, ShutdownDuringAPassReturnsAtOnceAndDropsWhatTheThreadReportsLater) {
    CFakeSlp& fake = CFakeSlp::Instance();
    fake.SetServices({Service("10.0.0.1", "a"), Service("10.0.0.2", "b")});
    fake.CloseGate();
    m_pDiscovery->StartFirstPass();
    fake.WaitUntilHeld();
    // The window goes first, then the tab's objects; nothing waits for the thread, which is
    // still held inside the library (waiting for it would never end here).
    EXPECT_TRUE(m_pDiscovery->PassThreadRunning());
    m_loop.Window()->Close();
    m_pDiscovery.reset();
    fake.OpenGate();
    fake.WaitForSearchesDone(1);
    m_loop.Window()->Drain();
    EXPECT_EQ(m_table.Size(), 0u);
    EXPECT_EQ(m_list.RowCount(), 0u);
}

TEST_F(Discovery, ReportsReachingAnOpenWindowAfterTheDiscoveryIsGoneAreDropped) {
    CFakeSlp& fake = CFakeSlp::Instance();
    fake.SetServices({Service("10.0.0.1", "a")});
    fake.CloseGate();
    m_pDiscovery->StartFirstPass();
    fake.WaitUntilHeld();
    m_pDiscovery.reset();
    fake.OpenGate();
    // The sent sighting and the posted end both arrive and find nobody.
    m_loop.SetTimer(kGuardTimer, 60s, [&] { m_loop.Quit(); });
    int drained = 0;
    auto window = m_loop.Window();
    std::thread watcher([&] {
        fake.WaitForSearchesDone(1);
        window->Post([&] { ++drained; });
    });
    ASSERT_TRUE(m_loop.RunUntil([&] { return drained == 1; }));
    watcher.join();
    EXPECT_EQ(m_table.Size(), 0u);
    EXPECT_EQ(m_list.RowCount(), 0u);
    EXPECT_EQ(m_nAccountRefreshes, 0);
}

} // namespace
