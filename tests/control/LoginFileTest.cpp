// The login file of "orvanectl login --from": which lines become arrays with their credentials,
// which are told as errors (never with their password), and the parsed list as one argument of a
// control request, for a fleet of 10,000 arrays.
#include "control/LoginFile.h"

#include "control/ControlProtocol.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// Every password of the malformed lines below; no error may show it.
constexpr std::string_view kSecret = "s3cr3t";

TEST(LoginFile, LinesBecomeArraysOrErrorsThatNeverShowAPassword) {
    const struct {
        std::string text;
        std::vector<CLoginFileEntry> entries;
        std::vector<CLoginFileError> errors;
    } cases[] = {
        {"m1,admin,pw\n", {{"m1", "admin", "pw"}}, {}},
        // Quoting: commas and doubled quotes inside, spaces kept inside, trimmed outside; CR LF.
        {" m1 , admin ,\"p,w\"\"x\" \r\nm2,\"ad min\",\" s \"\r\n",
         {{"m1", "admin", "p,w\"x"}, {"m2", "ad min", " s "}},
         {}},
        {"# m1,admin,pw\n\n \t \r\n  # indented\n", {}, {}},
        // A MAC alone takes the command's credentials; an empty quoted password is a password.
        {"  m1  \nm2,admin,\"\"", {{"m1", "", ""}, {"m2", "admin", ""}}, {}},
        {"m1,admin\n", {}, {{1, "expected MAC,user,password or a MAC alone, found 2 fields"}}},
        {"m1,admin,s3cr3t,x\n",
         {},
         {{1, "expected MAC,user,password or a MAC alone, found 4 fields"}}},
        {"m1,admin,\"s3cr3t\nm2,admin,pw\"\n",
         {},
         {{1, "a quoted field does not end on its line (a field may not span lines)"},
          {2, "a quote inside an unquoted field (quote the whole field, and write a quote in it "
              "twice)"}}},
        {"m1,admin,\"s3cr3t\"x\n", {}, {{1, "text after a quoted field's closing quote"}}},
        {"m1,ad\"min,s3cr3t\n",
         {},
         {{1, "a quote inside an unquoted field (quote the whole "
              "field, and write a quote in it twice)"}}},
        {" ,admin,s3cr3t\nm1,,s3cr3t\nm2,\"\",s3cr3t\n",
         {},
         {{1, "no MAC address"}, {2, "no user name"}, {3, "no user name"}}},
        {"m1,admin,s3cr3t\xff\nm2,adm\xc3,s3cr3t\nm3,admin,s3cr3t\x01\n",
         {},
         {{1, "the password is not valid UTF-8"},
          {2, "the user name is not valid UTF-8"},
          {3, "the password holds a control character"}}},
        {"m1,admin," + std::string(LoginFile::kMaxLineBytes, 'x') + "\nm2,admin,pw\n",
         {{"m2", "admin", "pw"}},
         {{1, "longer than 512 bytes"}}},
        // A MAC listed twice (in any letter case) sends neither password; the others still go.
        {"AA,admin,s3cr3t\nm1,admin,pw\naa,root,s3cr3t\nAa\n",
         {{"m1", "admin", "pw"}},
         {{3, "aa is listed twice (first on line 1): none of its lines is used"},
          {4, "Aa is listed twice (first on line 1): none of its lines is used"}}},
    };
    for (const auto& c : cases) {
        const CLoginFileContent content = LoginFile::Parse(c.text);
        const std::string label = ::testing::PrintToString(c.text.substr(0, 60));
        EXPECT_EQ(content.entries, c.entries) << label;
        EXPECT_EQ(content.errors, c.errors) << label;
        for (const CLoginFileError& error : content.errors) {
            EXPECT_EQ(error.reason.find(kSecret), std::string::npos) << error.reason;
        }
    }
}

TEST(LoginFile, TheListOfTenThousandArraysFitsOneRequestAndComesBackWhole) {
    constexpr int kArrays = 10000;
    constexpr std::size_t kMacSize = 18;
    constexpr std::size_t kUserSize = 250;
    // As long as a line may be: the MAC, two commas, the user name and the password.
    constexpr std::size_t kPasswordSize = LoginFile::kMaxLineBytes - (kMacSize - 1) - 2 - kUserSize;
    std::vector<CLoginFileEntry> entries;
    for (int i = 0; i < kArrays; ++i) {
        char mac[kMacSize];
        std::snprintf(mac, sizeof mac, "02:4f:52:00:%02x:%02x", i / 256, i % 256);
        entries.push_back({mac, std::string(kUserSize, 'u'), std::string(kPasswordSize, ':')});
    }
    entries.push_back({"02:4f:52:01:00:00", "", ""}); // a MAC alone
    const std::string bytes =
        ControlProtocol::EncodeRequest({"login", "--list", LoginFile::Encode(entries)});
    ASSERT_LE(bytes.size(), ControlProtocol::kMaxRequestBytes);
    bool bad = true;
    const auto args = ControlProtocol::DecodeRequest(bytes, bad);
    ASSERT_TRUE(args);
    EXPECT_EQ(LoginFile::Decode(args->at(2)), entries);
    // Bytes that are no such list.
    for (const std::string& wrong : {"2:m1"s, "2:m10:"s, "2:m10:2:pw"s, "x:m"s, "0:0:0:"s,
                                     "99999999999:"s, "2:m15:admin2:pw3"s}) {
        EXPECT_FALSE(LoginFile::Decode(wrong)) << wrong;
    }
}

} // namespace
