// The control socket's request and reply: whole, cut short, and never a request.
#include "control/ControlProtocol.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(ControlProtocol, RequestsRoundTripAndWaitForTheirEnd) {
    const std::vector<std::string> args = {"user", "add", "", "n\xc3\xa4me", "--password", "p w"};
    const std::string bytes = ControlProtocol::EncodeRequest(args);
    bool bad = true;
    EXPECT_EQ(ControlProtocol::DecodeRequest(bytes, bad), args);
    EXPECT_FALSE(bad);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(ControlProtocol::DecodeRequest(bytes.substr(0, cut), bad)) << cut;
        EXPECT_FALSE(bad) << cut;
    }
}

TEST(ControlProtocol, BytesThatCanNeverBeARequestAreBad) {
    const std::vector<std::string> cases = {
        "GET / HTTP/1.0\r\n"s,
        "orvanectl-2\0"s,
        "orvanectl-1\0x\0"s,
        "orvanectl-1\0"
        "999\0"s, // more arguments than allowed
        "orvanectl-1\0"
        "1\0a\0b\0"s, // more than one request
        "orvanectl-1\0"
        "12345678901234"s, // a count without end
        "orvanectl-1\0"
        "1\0"s +
            std::string(ControlProtocol::kMaxRequestBytes, 'a'),
    };
    for (const std::string& bytes : cases) {
        bool bad = false;
        EXPECT_FALSE(ControlProtocol::DecodeRequest(bytes, bad));
        EXPECT_TRUE(bad) << ::testing::PrintToString(bytes.substr(0, 40));
    }
}

TEST(ControlProtocol, RepliesRoundTripAndRefuseWrongLengths) {
    const CControlReply reply{3, "out\n\0x"s, "err\n"};
    const std::string bytes = ControlProtocol::EncodeReply(reply);
    bool bad = true;
    const auto decoded = ControlProtocol::DecodeReply(bytes, bad);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->nStatus, 3);
    EXPECT_EQ(decoded->strOut, reply.strOut);
    EXPECT_EQ(decoded->strErr, reply.strErr);
    EXPECT_FALSE(ControlProtocol::DecodeReply(bytes.substr(0, bytes.size() - 1), bad));
    EXPECT_FALSE(bad);
    for (const std::string& wrong : {bytes + "x", "-1\n0\n0\n"s, "256\n0\n0\n"s, "0\nx\n"s}) {
        EXPECT_FALSE(ControlProtocol::DecodeReply(wrong, bad));
        EXPECT_TRUE(bad) << wrong;
    }
}

} // namespace
