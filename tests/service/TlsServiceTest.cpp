// The service's TLS port beside the plain one: the same answers byte for byte, and clients
// that cannot speak TLS 1.2 or 1.3 refused without harm to the others.
#include "platform/tls/CCertificateStore.h"
#include "service/ServiceCertificate.h"
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/TlsTestClient.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

using svctest::Exchange;

constexpr auto kLogPatience = std::chrono::seconds(10);

// The lines that tell the time of the answer: two answers a second apart differ only there.
std::string WithoutTimes(const std::string& response) {
    return std::regex_replace(response, std::regex("(Date|Last-Modified): [^\r]*\r\n"), "");
}

class TlsService : public svctest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_docRoot.Write("default.htm", "<html>hi</html>");
        // Larger than one transfer, so that it goes out in pieces.
        m_docRoot.Write("big.htm", std::string(70000, 'b'));
        AddServer("00:11", "127.0.0.1");
        AddGroup(u"Everyone", {u"admin"}, {u"00:11"});
        StartService(TlsOptions());
        ASSERT_NE(m_pService->TlsPort(), 0);
        // The certificate the service made, for the client to trust.
        ASSERT_TRUE(m_store.Load(m_certificates.Path())) << m_store.Error();
        ASSERT_FALSE(m_store.Created());
    }

    CServiceOptions TlsOptions() const {
        CServiceOptions options = ShortOptions();
        options.certificateFolder = m_certificates.Path();
        options.nTlsPort = 0;
        return options;
    }

    CTlsClientResult OverTls(std::string_view request, int nMaxVersion = TLS1_3_VERSION) {
        const CTlsClientSettings settings{TLS1_VERSION, nMaxVersion, m_store.Certificate(),
                                          "127.0.0.1"};
        return TlsExchangeOnLoopback(m_pService->TlsPort(), settings, request);
    }

    CTempDir m_certificates;
    CCertificateStore m_store;
};

TEST_F(TlsService, AnswersAsThePlainPortDoes) {
    const std::string requests[] = {
        "GET / HTTP/1.0\r\n\r\n",
        "GET /big.htm HTTP/1.0\r\n\r\n",
        "GET /missing.htm HTTP/1.0\r\n\r\n",
        svctest::QueryRequest("admin:9983"),
        svctest::QueryRequest("admin:wrong"),
        "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\nnew\n",
    };
    for (const std::string& request : requests) {
        SCOPED_TRACE(request);
        const CTlsClientResult tls = OverTls(request);
        ASSERT_TRUE(tls.bHandshake) << tls.strError;
        const std::string plain = Exchange(Port(), request);
        EXPECT_FALSE(plain.empty());
        EXPECT_EQ(WithoutTimes(tls.strReceived), WithoutTimes(plain));
    }
    EXPECT_NE(OverTls(svctest::QueryRequest("admin:9983")).strReceived.find("LoginPasswd=\"new\""),
              std::string::npos);
    EXPECT_NE(m_pLog->Text().find("SHA-256 fingerprint " + m_store.Fingerprint()),
              std::string::npos);
}

TEST_F(TlsService, HttpsOnlyQueryRefusesOnlyPlainQueries) {
    StopService();
    CServiceOptions options = TlsOptions();
    options.bHttpsOnlyQuery = true;
    StartService(options);
    const std::string query = svctest::QueryRequest("admin:9983");
    const std::string notFound = Exchange(Port(), "POST /nothing HTTP/1.0\r\n\r\n");
    EXPECT_EQ(WithoutTimes(Exchange(Port(), query)), WithoutTimes(notFound));
    EXPECT_TRUE(m_pLog->WaitFor("\"/Query\" over plain HTTP from 127.0.0.1 refused", kLogPatience));
    Exchange(Port(), "POST /UpdateAdminPasswd?00:11 HTTP/1.0\r\n\r\npushed\n");
    EXPECT_NE(OverTls(query).strReceived.find("LoginPasswd=\"pushed\""), std::string::npos);
    EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("<html>hi</html>"));
}

TEST_F(TlsService, RefusesClientsWithoutTls12AndKeepsServing) {
    struct Case {
        const char* name;
        std::function<void(uint16_t)> client;
        const char* logged;
    };
    const Case cases[] = {
        {"plain HTTP",
         [](uint16_t port) {
             EXPECT_EQ(Exchange(port, "GET / HTTP/1.0\r\n\r\n").find("HTTP/1.0"),
                       std::string::npos);
         },
         "TLS handshake: http request"},
        {"TLS 1.1",
         [this](uint16_t) {
             EXPECT_FALSE(OverTls("GET / HTTP/1.0\r\n\r\n", TLS1_1_VERSION).bHandshake);
         },
         "TLS handshake: unsupported protocol"},
        {"silent", [](uint16_t port) { Exchange(port, ""); }, "TLS handshake timeout"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.client(m_pService->TlsPort());
        EXPECT_TRUE(m_pLog->WaitFor(std::string("SERVER: ") + c.logged, kLogPatience))
            << m_pLog->Text();
        EXPECT_TRUE(OverTls("GET / HTTP/1.0\r\n\r\n").strReceived.ends_with("<html>hi</html>"));
        EXPECT_TRUE(Exchange(Port(), "GET / HTTP/1.0\r\n\r\n").ends_with("<html>hi</html>"));
    }
}

// The certificate's log lines at start, and a pair the TLS port cannot use.
class ServiceCertificate : public svctest::CServiceTest {};

TEST_F(ServiceCertificate, ANearEndIsLoggedAndAnUnusableKeyLeavesThePlainPortServing) {
    const CTempDir folder;
    CCertificateStore store;
    ASSERT_TRUE(store.Load(folder.Path()));
    struct Case {
        const char* name;
        std::chrono::hours beforeEnd;
        const char* warning; // null: none
    };
    const Case cases[] = {
        {"far", std::chrono::hours(24 * 31), nullptr},
        {"near", std::chrono::hours(24 * 29), "expires within 30 days"},
        {"past", std::chrono::hours(-1), "has expired"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CLogCapture log;
        CServiceLog serviceLog(log.Fd());
        CTlsServerContext tls;
        EXPECT_TRUE(
            LoadServiceCertificate(folder.Path(), tls, serviceLog, store.Expiry() - c.beforeEnd));
        EXPECT_EQ(log.Text().find("warning:") != std::string::npos, c.warning != nullptr);
        if (c.warning != nullptr) {
            EXPECT_NE(log.Text().find(c.warning), std::string::npos) << log.Text();
        }
    }
    std::filesystem::permissions(folder / "tls.key", std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    CServiceOptions options = ShortOptions();
    options.certificateFolder = folder.Path();
    options.nTlsPort = 0;
    StartService(options);
    EXPECT_EQ(m_pService->TlsPort(), 0);
    EXPECT_TRUE(m_pLog->WaitFor("no TLS port: ", kLogPatience));
    EXPECT_EQ(Exchange(Port(), "GET /none HTTP/1.0\r\n\r\n").find("HTTP/1.0"), 0u);
}

} // namespace
