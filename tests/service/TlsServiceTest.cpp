// The service's TLS port beside the plain one: the same answers byte for byte, clients that
// cannot speak TLS 1.2 or 1.3 refused without harm to the others, the certificate's log, and
// the share of the cap on connections that each port keeps.
#include "service/listener/ServiceCertificate.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TlsTestClient.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <vector>

namespace {

using svctest::Exchange;

constexpr auto kLogPatience = std::chrono::seconds(10);
constexpr std::string_view kGet = "GET / HTTP/1.0\r\n\r\n";

// Two answers a second apart differ only in the lines that tell the time.
std::string WithoutTimes(const std::string& response) {
    return std::regex_replace(response, std::regex("(Date|Last-Modified): [^\r]*\r\n"), "");
}

class TlsService : public svctest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_docRoot.Write("default.htm", "<html>hi</html>");
        m_docRoot.Write("big.htm", std::string(70000, 'b')); // sent in pieces
        AddServer("00:11", "127.0.0.1");
        AddGroup(u"Everyone", {u"admin"}, {u"00:11"});
        StartService(TlsOptions());
        ASSERT_NE(m_pService->TlsPort(), 0);
        ASSERT_TRUE(m_store.Load(m_certificates.Path())) << m_store.Error();
        ASSERT_FALSE(m_store.Created());
    }
    CServiceOptions TlsOptions(bool bHttpsOnlyQuery = false) const {
        CServiceOptions options = ShortOptions();
        options.certificateFolder = m_certificates.Path();
        options.nTlsPort = 0;
        options.bHttpsOnlyQuery = bHttpsOnlyQuery;
        return options;
    }
    // The plain port still serves the page.
    bool PlainServes() { return Exchange(Port(), std::string(kGet)).ends_with("<html>hi</html>"); }
    CTlsClientResult OverTls(std::string_view request, int nMaxVersion = TLS1_3_VERSION) {
        const svctest::CClient client(m_pService->TlsPort());
        return TlsExchange(client.Fd(), {nMaxVersion, m_store.Certificate()}, request);
    }

    CTempDir m_certificates;
    CCertificateStore m_store;
};

TEST_F(TlsService, AnswersAsThePlainPortDoes) {
    const std::string requests[] = {
        std::string(kGet),
        "GET /big.htm HTTP/1.0\r\n\r\n",
        "GET /missing.htm HTTP/1.0\r\n\r\n",
        svctest::QueryRequest("admin:9983"),
        svctest::QueryRequest("admin:wrong"),
        "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\nnew\n",
    };
    for (const std::string& request : requests) {
        SCOPED_TRACE(request);
        const CTlsClientResult tls = OverTls(request);
        ASSERT_TRUE(tls.bHandshake);
        EXPECT_EQ(WithoutTimes(tls.strReceived), WithoutTimes(Exchange(Port(), request)));
    }
    EXPECT_EQ(m_pLog->Count("SHA-256 fingerprint " + m_store.Fingerprint()), 1u);
    EXPECT_EQ(CTlsPortState::Published().Summary(),
              "port " + std::to_string(m_pService->TlsPort()) + ", SHA-256 fingerprint " +
                  m_store.Fingerprint());
    StopService();
    EXPECT_EQ(CTlsPortState::Published().Summary(), "off");
}

TEST_F(TlsService, HttpsOnlyQueryRefusesOnlyPlainQueries) {
    StopService();
    StartService(TlsOptions(true));
    const std::string query = svctest::QueryRequest("admin:9983");
    const std::string notFound = Exchange(Port(), "POST /nothing HTTP/1.0\r\n\r\n");
    EXPECT_EQ(WithoutTimes(Exchange(Port(), query)), WithoutTimes(notFound));
    EXPECT_TRUE(m_pLog->WaitFor("\"/Query\" over plain HTTP from 127.0.0.1 refused", kLogPatience));
    Exchange(Port(), "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\npushed\n");
    EXPECT_NE(OverTls(query).strReceived.find("LoginPasswd=\"pushed\""), std::string::npos);
    EXPECT_TRUE(PlainServes());
}

TEST_F(TlsService, RefusesClientsWithoutTls12AndKeepsServing) {
    const uint16_t port = m_pService->TlsPort();
    const struct {
        std::function<std::string()> client; // answers what it received
        const char* logged;
    } cases[] = {
        {[&] { return Exchange(port, std::string(kGet)); }, "TLS handshake: http request"},
        {[&] { return OverTls(kGet, TLS1_1_VERSION).strReceived; },
         "TLS handshake: unsupported protocol"},
        {[&] { return Exchange(port, ""); }, "TLS handshake timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        EXPECT_EQ(c.client().find("HTTP/1.0"), std::string::npos);
        EXPECT_TRUE(m_pLog->WaitFor(std::string("SERVER: ") + c.logged, kLogPatience));
        EXPECT_TRUE(OverTls(kGet).strReceived.ends_with("<html>hi</html>"));
        EXPECT_TRUE(PlainServes());
    }
}

TEST_F(TlsService, ANearEndIsLoggedAndAnUnusableKeyLeavesOnlyThePlainPort) {
    const struct {
        std::chrono::hours beforeEnd;
        const char* warning; // empty: none
    } cases[] = {{std::chrono::hours(24 * 31), ""},
                 {std::chrono::hours(24 * 29), "expires within 30 days"},
                 {std::chrono::hours(-1), "has expired"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning);
        const CLogCapture log;
        CServiceLog serviceLog(log.Fd());
        CTlsServerContext tls;
        CTlsPortState state;
        EXPECT_TRUE(LoadServiceCertificate(m_certificates.Path(), tls, serviceLog,
                                           m_store.Expiry() - c.beforeEnd, state));
        EXPECT_EQ(state.strFingerprint, m_store.Fingerprint());
        EXPECT_EQ(log.Count("warning:"), *c.warning != '\0' ? 1u : 0u);
        EXPECT_NE(log.Text().find(c.warning), std::string::npos);
    }
    StopService();
    std::filesystem::permissions(m_certificates / "tls.key", std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    StartService(TlsOptions());
    EXPECT_EQ(m_pService->TlsPort(), 0);
    EXPECT_TRUE(m_pLog->WaitFor("no TLS port: ", kLogPatience));
    EXPECT_EQ(CTlsPortState::Published().eState, CTlsPortState::EState::NotServed);
    EXPECT_NE(CTlsPortState::Published().strReason, "");
    EXPECT_TRUE(PlainServes());
}

// A cap of 4: at most 3 on one port.
TEST_F(TlsService, EachPortKeepsAQuarterOfTheCapAndStalledHandshakesMakeRoom) {
    StopService();
    CServiceOptions options = TlsOptions();
    options.nMaxConnections = 4;
    options.nWaitMs = 10000;
    options.nRequestDeadlineMs = 20000;
    StartService(options);
    const uint16_t tlsPort = m_pService->TlsPort();
    {
        // Plain connections past their headers fill the plain port's share; the TLS port's
        // quarter stays.
        std::vector<std::unique_ptr<svctest::CClient>> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(HoldPastHeaders());
        }
        svctest::CClient waiting(Port());
        waiting.Send(kGet);
        EXPECT_EQ(waiting.ReadAll(std::chrono::milliseconds(300)), "");
        EXPECT_TRUE(OverTls(kGet).strReceived.ends_with("<html>hi</html>"));
        held[0]->Send("new\n");
        EXPECT_NE(held[0]->ReadAll(), "");
        EXPECT_TRUE(waiting.ReadAll().ends_with("<html>hi</html>"));
        for (std::size_t i = 1; i < held.size(); ++i) {
            held[i]->Send("new\n");
            EXPECT_NE(held[i]->ReadAll(), "");
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 0; }));
    // Handshakes never started fill the TLS port's share and, with a plain connection past its
    // headers, the cap: a new plain connection closes the oldest of them, and a new TLS one, its
    // port full again, the oldest of its own.
    std::vector<std::unique_ptr<svctest::CClient>> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.push_back(HoldSilent(tlsPort));
    }
    const auto held = HoldPastHeaders();
    EXPECT_TRUE(PlainServes());
    EXPECT_TRUE(stalled[0]->WaitClosed(kLogPatience));
    // The plain client has its answer just before its slot is given back.
    ASSERT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 3; }));
    stalled.push_back(HoldSilent(tlsPort));
    EXPECT_TRUE(OverTls(kGet).strReceived.ends_with("<html>hi</html>"));
    EXPECT_TRUE(stalled[1]->WaitClosed(kLogPatience));
    EXPECT_EQ(m_pService->ConnectionsWaitingForRequest(), 2u);
    held->Send("new\n");
    EXPECT_NE(held->ReadAll(), "");
}

} // namespace
