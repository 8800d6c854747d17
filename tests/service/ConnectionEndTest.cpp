// How a connection ends after its answer: at once when the client has sent its whole request
// and nothing more, so that its slot is free while the client still reads; the slow way (half
// close, then wait for the client to close) when bytes of it were left unread or may still come.
#include "tests/service/ServiceTestSupport.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

namespace {

using svctest::CClient;

class ConnectionEnd : public svctest::CServiceTest {};

TEST_F(ConnectionEnd, ClosesAtOnceOnlyWhenTheRequestWasReadThroughItsEnd) {
    m_docRoot.Write("default.htm", "<html>hi</html>");
    AddUser(u"ann", u"pw");
    CServiceOptions options = ShortOptions();
    // Long enough that a lingering connection is still served when the checks look.
    options.nLingerMs = 30000;
    StartService(options);
    const std::string query = svctest::QueryRequest("ann:pw");
    const struct {
        std::string request;
        bool bLingers;
    } cases[] = {
        {"GET / HTTP/1.0\r\nConnection: close\r\n\r\n", false},
        {query, false},
        {"POST /Query HTTP/1.0\r\nAuthorization: Basic YW5uOnB3\r\nContent-Length: 2\r\n\r\nx\n",
         false},
        // Bytes beyond the request: closing now would reset the connection.
        {"GET / HTTP/1.0\r\n\r\nmore", true},
        // A body announced and not read (or not sent yet).
        {"GET / HTTP/1.0\r\nContent-Length: 4\r\n\r\n", true},
        {"POST /Query HTTP/1.0\r\nAuthorization: Basic YW5uOnB3\r\nContent-Length: 9\r\n\r\nx\n",
         true},
        // Refused before the rest of the headers was read.
        {"POST /Query HTTP/1.0\r\nAuthorization: Basic YW5uOnh4\r\nX-Later: 1\r\n\r\nx\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        {
            const CClient client(Port());
            client.Send(c.request);
            const std::string answer = client.ReadAll();
            EXPECT_TRUE(answer.starts_with("HTTP/1.0 ")) << answer;
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
