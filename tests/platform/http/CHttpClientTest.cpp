// The HTTP client against loopback peers of the test's own: status and bounded body, time-outs, no
// proxy whatever the environment says, no redirects, responses that are malformed or cut short, and
// no host but a plain IPv4 address.
#include "platform/http/CHttpClient.h"

#include "tests/platform/http/CLoopbackHttpPeer.h"
#include "tests/support/CClosedPort.h"
#include "tests/support/WaitUntil.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

using EAnswer = CLoopbackHttpPeer::EAnswer;

CHttpRequest RequestTo(uint16_t port) {
    CHttpRequest request;
    request.strHost = "127.0.0.1";
    request.nPort = port;
    request.strPath = "/api/x.php";
    request.listHeaders = {"Content-Type: text/plain"};
    request.strBody = "op=query&query=0";
    request.nBodyCapacity = 16;
    request.connectTimeout = std::chrono::seconds(5);
    request.requestTimeout = std::chrono::seconds(20);
    return request;
}

CHttpRequest RequestTo(const CLoopbackHttpPeer& peer) {
    return RequestTo(peer.Port());
}

TEST(CHttpClient, SendsTheRequestAndReadsStatusAndBody) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "<ok/>")});
    ASSERT_NE(peer.Port(), 0);
    CHttpClient client;
    const CHttpResponse response = client.Post(RequestTo(peer));
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.nStatus, 200);
    EXPECT_EQ(response.strBody, "<ok/>");
    EXPECT_FALSE(response.bOverflow);
    // The login's tests check our headers byte for byte; here: a Content-Type of ours replaces
    // the client's own, and the host carries the port.
    ASSERT_EQ(peer.Requests().size(), 1u);
    const std::string sent = peer.Requests()[0];
    EXPECT_EQ(sent.rfind("POST /api/x.php HTTP/1.1\r\n", 0), 0u) << sent;
    EXPECT_NE(sent.find("\r\nHost: 127.0.0.1:" + std::to_string(peer.Port()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(sent.find("form-urlencoded"), std::string::npos) << sent;
}

TEST(CHttpClient, KeepsAtMostTheCapacityAndSaysWhenMoreCame) {
    const std::string body(100, 'b');
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, body)});
    CHttpClient client;
    CHttpRequest request = RequestTo(peer);

    request.nBodyCapacity = 100; // exactly full is no overflow
    CHttpResponse response = client.Post(request);
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.strBody, body);
    EXPECT_FALSE(response.bOverflow);

    request.nBodyCapacity = 99;
    response = client.Post(request);
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.nStatus, 200);
    EXPECT_EQ(response.strBody, body.substr(0, 99));
    EXPECT_TRUE(response.bOverflow);

    request.nBodyCapacity = 0;
    response = client.Post(request);
    EXPECT_EQ(response.nError, 0);
    EXPECT_TRUE(response.strBody.empty());
    EXPECT_TRUE(response.bOverflow);
}

TEST(CHttpClient, OtherStatusesEndWithTheirHeadersWhenOnlyOneStatusWantsABody) {
    // The body announced is never sent: waiting for it would end in the time-out.
    CLoopbackHttpPeer peer(
        {"HTTP/1.1 401 No\r\nContent-Length: 1000000\r\n\r\npartial", EAnswer::ReplyAndHold});
    CHttpClient client;
    CHttpRequest request = RequestTo(peer);
    request.nBodyOnlyForStatus = 200;
    const CHttpResponse response = client.Post(request);
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.nStatus, 401);
    EXPECT_TRUE(response.strBody.empty());
}

TEST(CHttpClient, APeerThatNeverAnswersEndsInTheRequestTimeout) {
    CLoopbackHttpPeer peer({"", EAnswer::Silent});
    CHttpClient client;
    CHttpRequest request = RequestTo(peer);
    request.requestTimeout = std::chrono::milliseconds(300);
    const CHttpResponse response = client.Post(request);
    EXPECT_EQ(response.nError, CURLE_OPERATION_TIMEDOUT);
    // The peer's thread may count the connection after the client has given up on it.
    EXPECT_TRUE(WaitUntil([&] { return peer.Connections() > 0; }));
    EXPECT_EQ(peer.Connections(), 1u);

    // A 200 whose body stalls half-way is a failure too, not a short body.
    CLoopbackHttpPeer stalled(
        {"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nhalf", EAnswer::ReplyAndHold});
    request.nPort = stalled.Port();
    const CHttpResponse cut = client.Post(request);
    EXPECT_EQ(cut.nError, CURLE_OPERATION_TIMEDOUT);
    EXPECT_TRUE(cut.strBody.empty());
}

TEST(CHttpClient, NeverUsesAProxyFromTheEnvironment) {
    CLoopbackHttpPeer proxy({CLoopbackHttpPeer::Reply(200, "from the proxy")});
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "direct")});
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
    const char* const kVariables[] = {"http_proxy", "HTTP_PROXY", "ALL_PROXY"};
    for (const char* name : kVariables) {
        ::setenv(name, proxyUrl.c_str(), 1);
    }
    CHttpClient client;
    const CHttpResponse response = client.Post(RequestTo(peer));
    for (const char* name : kVariables) {
        ::unsetenv(name);
    }
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.strBody, "direct");
    EXPECT_EQ(proxy.Connections(), 0u);
}

TEST(CHttpClient, RedirectsAreAnsweredNotFollowed) {
    CLoopbackHttpPeer target({CLoopbackHttpPeer::Reply(200, "moved")});
    CLoopbackHttpPeer peer(
        {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(target.Port()) +
         "/\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"});
    CHttpClient client;
    const CHttpResponse response = client.Post(RequestTo(peer));
    EXPECT_EQ(response.nError, 0);
    EXPECT_EQ(response.nStatus, 302);
    EXPECT_EQ(target.Connections(), 0u);
}

TEST(CHttpClient, MalformedOrMissingResponsesAreClientErrors) {
    CHttpClient client;
    struct Case {
        const char* what;
        CLoopbackHttpPeer::CScript script;
        int error; // 0: any client error (libcurl versions name these differently)
    };
    const Case cases[] = {
        {"closed without a word", {"", EAnswer::Close}, CURLE_GOT_NOTHING},
        {"not HTTP at all", {"HELLO THERE\r\n\r\n"}, 0},
        {"status line without a number", {"HTTP/1.1 abc\r\n\r\n"}, 0},
        {"body shorter than announced",
         {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
         CURLE_PARTIAL_FILE},
    };
    for (const Case& c : cases) {
        CLoopbackHttpPeer peer(c.script);
        const CHttpResponse response = client.Post(RequestTo(peer));
        if (c.error != 0) {
            EXPECT_EQ(response.nError, c.error) << c.what;
        } else {
            EXPECT_NE(response.nError, 0) << c.what;
        }
        EXPECT_TRUE(response.strBody.empty()) << c.what;
    }
    // Nobody listening.
    const CClosedPort closed;
    ASSERT_NE(closed.Port(), 0);
    EXPECT_EQ(client.Post(RequestTo(closed.Port())).nError, CURLE_COULDNT_CONNECT);
}

TEST(CHttpClient, HostsOtherThanAPlainIpv4AddressAreRefusedUnsent) {
    CLoopbackHttpPeer peer({CLoopbackHttpPeer::Reply(200, "")});
    CHttpClient client;
    CHttpRequest request = RequestTo(peer);
    // Text that would change the URL, then names and the other spellings of the peer's address.
    for (const char* host : {"", "user@127.0.0.1", "127.0.0.1/x?", "127.0.0.1:80", "a b", "[::1",
                             "[::1]x", "127.0.0.1#", "localhost", "2130706433", "127.1",
                             "0x7f.0.0.1", "0177.0.0.1", "[::ffff:127.0.0.1]"}) {
        request.strHost = host;
        EXPECT_EQ(client.Post(request).nError, CHttpClient::kErrorBadHost) << host;
    }
    EXPECT_EQ(peer.Connections(), 0u);
}

} // namespace
