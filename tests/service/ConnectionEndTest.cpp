// After its answer a connection closes at once when the client sent its whole request and
// nothing more; otherwise it half-closes and waits for the client, so that no reset is sent.
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

namespace {

class ConnectionEnd : public svctest::CServiceTest {};

TEST_F(ConnectionEnd, ClosesAtOnceOnlyWhenTheRequestWasReadThroughItsEnd) {
    m_docRoot.Write("default.htm", "<html>hi</html>");
    AddUser(u"ann", u"pw");
    CServiceOptions options = ShortOptions();
    options.nLingerMs = 30000; // a lingering connection is still served when the checks look
    StartService(options);
    const std::string post = "POST /Query HTTP/1.0\r\nAuthorization: Basic YW5uOnB3\r\n"; // ann:pw
    const struct {
        std::string request;
        bool bLingers;
    } cases[] = {
        {"GET / HTTP/1.0\r\nConnection: close\r\n\r\n", false},
        {svctest::QueryRequest("ann:pw"), false},
        {post + "Content-Length: 2\r\n\r\nx\n", false},
        {"GET / HTTP/1.0\r\n\r\nmore", true},                       // bytes beyond the request
        {"GET / HTTP/1.0\r\nContent-Length: 4\r\n\r\n", true},      // a body not read
        {post + "Content-Length: 9\r\n\r\nx\n", true},              // a body not all read
        {svctest::QueryRequest("ann:xx") + "X-Later: 1\r\n", true}, // refused before its end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        {
            const svctest::CClient client(Port());
            client.Send(c.request);
            EXPECT_TRUE(client.ReadAll().starts_with("HTTP/1.0 "));
            if (c.bLingers) {
                EXPECT_EQ(m_pService->ConnectionsServed(), 1u);
            } else {
                EXPECT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 0; }));
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == 0; }));
    }
}

} // namespace
