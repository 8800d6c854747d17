// The service's TLS port beside the plain one: the same answers byte for byte, and clients
// that cannot speak TLS 1.2 or 1.3 refused without harm to the others.
#include "platform/tls/CCertificateStore.h"
#include "platform/tls/CTlsServerContext.h"
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
        ASSERT_TRUE(m_store.Load(m_certificates.Path())) << m_store.Error();
        auto context = std::make_shared<CTlsServerContext>();
        ASSERT_TRUE(context->Init(m_store)) << context->Error();
        CServiceOptions options = ShortOptions();
        options.pTls = std::move(context);
        options.nTlsPort = 0;
        m_docRoot.Write("default.htm", "<html>hi</html>");
        // Larger than one transfer, so that it goes out in pieces.
        m_docRoot.Write("big.htm", std::string(70000, 'b'));
        AddServer("00:11", "127.0.0.1");
        AddGroup(u"Everyone", {u"admin"}, {u"00:11"});
        StartService(options);
        ASSERT_NE(m_pService->TlsPort(), 0);
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

} // namespace
