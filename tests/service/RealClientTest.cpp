// The service answering real HTTP clients: curl for GET and for a POST "/Query" with Basic
// credentials, and a GET of "/" sent the way a browser sends it.
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/RunShell.h"
#include "tests/support/TestGate.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

using svctest::Exchange;

class RealClients : public svctest::CServiceTest {
protected:
    void SetUp() override {
        ORVANE_GATE("curl");
        CServiceTest::SetUp();
        m_docRoot.Write("default.htm", "<html><body>OrvaneSrv</body></html>\n");
        CServiceOptions options = ShortOptions();
        options.certificateFolder = m_dir.Path();
        options.nTlsPort = 0;
        StartService(options);
    }
    std::string Url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(Port()) + std::string(path);
    }
};

TEST_F(RealClients, CurlGetsTheDefaultPage) {
    EXPECT_EQ(RunShell("curl -s --max-time 5 " + Url("/")),
              "<html><body>OrvaneSrv</body></html>\n");
    EXPECT_EQ(RunShell("curl -s --max-time 5 -o /dev/null -w '%{http_code}' " + Url("/none.htm")),
              "404");
}

TEST_F(RealClients, CurlQueriesWithBasicCredentials) {
    EXPECT_EQ(RunShell("curl -s --max-time 5 -u admin:9983 -X POST --data-binary $'x\\n' " +
                       Url("/Query")),
              "<StorageServers AdminGroup=\"Yes\"></StorageServers>");
    EXPECT_EQ(RunShell("curl -s --max-time 5 -o /dev/null -w '%{http_code}' -u admin:no -X POST "
                       "--data-binary $'x\\n' " +
                       Url("/Query")),
              "401");
}

TEST_F(RealClients, CurlQueriesOverTlsTrustingTheMadeCertificate) {
    EXPECT_EQ(RunShell("curl -s --max-time 5 -u admin:9983 -d x --cacert " +
                       (m_dir / "tls.crt").string() +
                       " https://127.0.0.1:" + std::to_string(m_pService->TlsPort()) + "/Query"),
              "<StorageServers AdminGroup=\"Yes\"></StorageServers>");
}

TEST_F(RealClients, CurlPostsAFormBodyWithoutALineFeed) {
    // curl -d sends "Content-Length: 1" and the one byte; the answer must not wait for more.
    EXPECT_EQ(RunShell("curl -s --max-time 5 -u admin:9983 -d x " + Url("/Query")),
              "<StorageServers AdminGroup=\"Yes\"></StorageServers>");
}

TEST_F(RealClients, ABrowserStyleGetOfTheRoot) {
    const std::string response = Exchange(
        Port(), "GET / HTTP/1.1\r\n"
                "Host: 127.0.0.1\r\n"
                "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101\r\n"
                "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                "Accept-Language: en-US,en;q=0.5\r\n"
                "Accept-Encoding: gzip, deflate, br\r\n"
                "Connection: keep-alive\r\n"
                "Upgrade-Insecure-Requests: 1\r\n"
                "\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.0 200 OK\r\n"));
    EXPECT_TRUE(response.ends_with("\r\n\r\n<html><body>OrvaneSrv</body></html>\n"));
}

} // namespace
