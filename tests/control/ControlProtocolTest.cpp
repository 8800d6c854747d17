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

namespace {

// Progress lines come off the front one whole line at a time, the last one counting; a front
// that can never be one is bad, and the reply behind them decodes as ever.
TEST(ControlProtocol, ProgressLinesComeOffTheFrontOfAReply) {
    const std::string reply = ControlProtocol::EncodeReply({0, "done\n", ""});
    const struct {
        std::string bytes;
        std::optional<std::size_t> nDone; // the last progress taken
        bool bBad;
        std::string left;
    } cases[] = {
        {ControlProtocol::EncodeProgress({3, 10}) + ControlProtocol::EncodeProgress({4, 10}) +
             reply,
         4, false, reply},
        {reply, std::nullopt, false, reply},
        {"+3 1", std::nullopt, false, "+3 1"},
        {"+7 9\n+8", 7, false, "+8"},
        {"+x 1\n", std::nullopt, true, "+x 1\n"},
        {"+1 12345678901234\n", std::nullopt, true, "+1 12345678901234\n"},
    };
    for (const auto& c : cases) {
        std::string bytes = c.bytes;
        bool bad = false;
        const auto progress = ControlProtocol::TakeProgress(bytes, bad);
        EXPECT_EQ(progress ? std::optional(progress->nDone) : std::nullopt, c.nDone) << c.bytes;
        EXPECT_EQ(bad, c.bBad) << c.bytes;
        EXPECT_EQ(bytes, c.left) << c.bytes;
    }
}

} // namespace
