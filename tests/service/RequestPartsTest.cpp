// The pieces of request handling that need no network: the Basic credentials test, the canned
// responses and dates, the log entries, and which names GET may open.
#include "platform/text/Base64.h"
#include "service/ServiceLogText.h"
#include "service/http/CRequestHandler.h"
#include "service/http/CheckBasicCredentials.h"
#include "service/http/HttpResponses.h"
#include "service/http/OpenRequestedFile.h"
#include "service/http/SendFileResponse.h"
#include "tests/service/ServiceTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <regex>
#include <string_view>
#include <sys/stat.h>
#include <utility>

namespace {

TEST(Credentials, NameAndPasswordAreComparedInFullWithLetterCase) {
    CUserTable users;
    users[u"admin"] = std::make_unique<CUserData>(u"admin", u"9983");
    users[u"empty"] = std::make_unique<CUserData>(u"empty", u"");
    users[u"long"] = std::make_unique<CUserData>(u"long", std::u16string(200, u'p'));
    users[u"c"] = std::make_unique<CUserData>(u"c", u"a:b:");
    const std::string longPassword(200, 'p');
    const struct {
        std::string decoded;
        int result;
        std::string name; // the user name the check reports
    } cases[] = {
        {"admin:9983", kCredentialsOk, "admin"},
        {"admin:99830", kCredentialsWrongPassword, "admin"},
        {"Admin:9983", kCredentialsNoSuchUser, "Admin"},
        {"nobody:x", kCredentialsNoSuchUser, "nobody"},
        // A trailing colon means an empty password; without a colon there is no user name.
        {"empty:", kCredentialsOk, "empty"},
        {"admin:", kCredentialsWrongPassword, "admin"},
        {"admin", kCredentialsNoSuchUser, ""},
        {"", kCredentialsNoSuchUser, ""},
        // Passwords may hold colons, and long ones are compared whole.
        {"c:a:b:", kCredentialsOk, "c"},
        {"long:" + longPassword, kCredentialsOk, "long"},
        {"long:" + longPassword.substr(1), kCredentialsWrongPassword, "long"},
        {"long:" + longPassword + "q", kCredentialsWrongPassword, "long"},
    };
    for (const auto& c : cases) {
        std::string name = "<unset>";
        EXPECT_EQ(CheckBasicCredentials(Base64Encode(c.decoded) + "\r\n", name, users), c.result)
            << c.decoded;
        EXPECT_EQ(name, c.name) << c.decoded;
    }
}

TEST(Responses, CannedBytesAndLengths) {
    const std::string_view notFound = kNotFoundResponse;
    EXPECT_EQ(notFound.substr(notFound.find("\r\n\r\n") + 4).size(), 66u);
    const std::string_view unauthorized = UnauthorizedResponse();
    EXPECT_TRUE(unauthorized.starts_with("HTTP/1.0 401 Unauthorized\r\n"
                                         "Server: Orvane2.0 Management Server\r\n"
                                         "Content-Type: text/html\r\n"
                                         "Accept-Ranges: bytes\r\n"
                                         "Content-Length: "));
    const std::size_t lengthAt = unauthorized.find("Content-Length: ") + 16;
    const std::size_t bodyAt = unauthorized.find("\r\n\r\n") + 4;
    EXPECT_EQ(std::stoul(std::string(unauthorized.substr(lengthAt))), unauthorized.size() - bodyAt);
}

TEST(Responses, DatesAreInEnglishAndUtc) {
    // 2010-01-01 00:00:00 UTC was a Friday.
    EXPECT_EQ(HttpDateText(1262304000), "Fri, 01 Jan 2010 00:00:00 GMT");
    EXPECT_EQ(LogTimeText(1262304000 + 13 * 3600 + 62), "01/01/10 13:01:02 GMT");
    // The program's own lines are stamped as the audit trail stamps its records.
    const auto at = std::chrono::system_clock::from_time_t(1262304000 + 13 * 3600 + 62) +
                    std::chrono::milliseconds(7);
    EXPECT_EQ(StampProgramLine("OrvaneSrv: x\n", at), "2010-01-01T13:01:02.007Z OrvaneSrv: x\n");
    EXPECT_EQ(FileResponseHeader(1262304000, 12),
              "HTTP/1.0 200 OK\r\nServer: Orvane2.0 Management Server\r\n"
              "Date: Fri, 01 Jan 2010 00:00:00 GMT\r\nContent-Type: text/html\r\n"
              "Accept-Ranges: bytes\r\nX-Content-Type-Options: nosniff\r\n"
              "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"
              "Content-Length: 12\r\nLast-Modified: Fri, 20100101 GMT\r\n\r\n");
    EXPECT_EQ(DocumentResponseHeader(1262304000),
              "HTTP/1.0 200 OK\r\nServer: Orvane2.0 Management Server\r\n"
              "Content-Type: text/xml\r\nExpires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
              "Last-Modified: Fri, 01 Jan 2010 00:00:00 GMT\r\n"
              "Cache-Control: no-store, no-cache, must-revalidate\r\nPragma: no-cache\r\n\r\n");
}

TEST(ContentLength, DecimalValuesOfAnyHeaderCaseAndNothingElse) {
    EXPECT_EQ(CRequestHandler::ContentLengthOf("Content-Length: 12\r\n"), 12u);
    EXPECT_EQ(CRequestHandler::ContentLengthOf("content-LENGTH:0\n"), 0u);
    EXPECT_EQ(CRequestHandler::ContentLengthOf("Content-Length: \t 7 \t\r\n"), 7u);
    EXPECT_EQ(CRequestHandler::ContentLengthOf("Content-Length: 99999999999999999999999\r\n"),
              std::numeric_limits<std::size_t>::max());
    for (const char* line :
         {"Content-Length: -1\r\n", "Content-Length: +3\r\n", "Content-Length: 0x10\r\n",
          "Content-Length: 1 2\r\n", "Content-Length: \r\n", "Content-Length: abc\r\n",
          "Content-Length 3\r\n", "X-Content-Length: 3\r\n", "Content-Lengths: 3\r\n", "\r\n"}) {
        EXPECT_EQ(CRequestHandler::ContentLengthOf(line), std::nullopt) << line;
    }
    EXPECT_EQ(CRequestHandler::ContentLengthOf(std::string_view("Content-Length: 3\0\r\n", 20)),
              std::nullopt);
}

// What a file response consists of, without keeping it: the header, the body's byte count, and
// the body's last bytes; and how it went out.
struct CSentFile : IFileSink {
    static constexpr std::size_t kTail = 8;
    std::string header;
    uint64_t nBodyBytes = 0;
    std::string tail;
    std::size_t nSends = 0;
    std::size_t nFileSends = 0;
    bool bHeaderAnnouncedMore = false;

    void Send(std::string_view bytes, bool bMore) override {
        if (nSends++ == 0) {
            const std::size_t end = bytes.find("\r\n\r\n") + 4;
            header = bytes.substr(0, end);
            bytes.remove_prefix(end);
            bHeaderAnnouncedMore = bMore;
        }
        Body(bytes.size(), bytes.substr(bytes.size() - std::min(bytes.size(), kTail)));
    }
    // Stands in for the socket: only the range's end is read, so a sparse file costs nothing.
    uint64_t SendFile(int fd, uint64_t offset, uint64_t nBytes) override {
        ++nFileSends;
        std::string last(std::min<uint64_t>(nBytes, kTail), '\0');
        const auto at = static_cast<off_t>(offset + nBytes - last.size());
        const ssize_t got = ::pread(fd, last.data(), last.size(), at);
        Body(nBytes, got == static_cast<ssize_t>(last.size()) ? last : "?");
        return nBytes;
    }
    void Body(uint64_t n, std::string_view end) {
        nBodyBytes += n;
        tail += end;
        tail.erase(0, tail.size() - std::min(tail.size(), kTail));
    }
};

CSentFile SendFile(const std::filesystem::path& file) {
    const CUniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    CSentFile sent;
    SendFileResponse(fd.Get(), 0, sent);
    return sent;
}

TEST(FileResponse, AFileBeyondFourGigabytesIsAnnouncedAndSentWhole) {
    // Sparse: it costs no disk, and reading its hole costs no I/O. Served over a socket it
    // would take too long for a unit test; the sink stands in for the socket's Send.
    CTempDir dir;
    const auto file = dir / "big.bin";
    constexpr off_t kSize = (off_t{1} << 32) + 5;
    {
        const CUniqueFd fd(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        ASSERT_EQ(::ftruncate(fd.Get(), kSize), 0);
        ASSERT_EQ(::pwrite(fd.Get(), "!last", 5, kSize - 5), 5);
    }
    const CSentFile sent = SendFile(file);
    EXPECT_NE(sent.header.find("\r\nContent-Length: 4294967301\r\n"), std::string::npos)
        << sent.header;
    EXPECT_EQ(sent.nBodyBytes, static_cast<uint64_t>(kSize));
    EXPECT_EQ(sent.tail, std::string(3, '\0') + "!last");
}

TEST(FileResponse, ASmallFileGoesWithItsHeaderAndALargerOneFollowsItFromTheFile) {
    CTempDir dir;
    struct Case {
        std::size_t nBytes;
        std::size_t nSends, nFileSends;
    };
    const Case cases[] = {{0, 1, 0}, {kTransferSize, 1, 0}, {kTransferSize + 1, 1, 1}};
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.nBytes);
        dir.Write(name, std::string(c.nBytes, 'x'));
        const CSentFile sent = SendFile(dir / name);
        EXPECT_EQ(sent.nSends, c.nSends) << name;
        EXPECT_EQ(sent.nFileSends, c.nFileSends) << name;
        // A header that the file's bytes follow says so, so that they may share a segment.
        EXPECT_EQ(sent.bHeaderAnnouncedMore, c.nFileSends > 0) << name;
        EXPECT_EQ(sent.nBodyBytes, c.nBytes) << name;
        EXPECT_EQ(sent.tail, std::string(std::min(c.nBytes, CSentFile::kTail), 'x')) << name;
        EXPECT_TRUE(sent.header.ends_with("Content-Length: " + name +
                                          "\r\nLast-Modified: Fri, 20100101 GMT\r\n\r\n"))
            << sent.header;
    }
}

sockaddr_in Peer() {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(40000);
    ::inet_pton(AF_INET, "10.1.2.3", &peer.sin_addr);
    return peer;
}

TEST(LogEntries, ConnectionEntryCarriesTheLineAsReceived) {
    EXPECT_EQ(ComposeConnectionEntry(1, Peer(), "GET / HTTP/1.0\r\n", 1262304000),
              "SERVER CONNECTION # 1: IP addr = 10.1.2.3, port = 40000 -- 01/01/10 00:00:00 GMT"
              "\r\nGET / HTTP/1.0\r\n");
}

// The client's line as it stands in an entry, behind the connection line.
std::string LoggedLine(std::string_view line) {
    const std::string entry = ComposeConnectionEntry(1, Peer(), line, 1262304000);
    return entry.substr(entry.find("GMT\r\n") + 5);
}

TEST(LogEntries, ControlBytesAreShownAsHexAndLineEndsAreKept) {
    using namespace std::string_view_literals;
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"GET /x\x1b[2J\x1b]0;pwned\a HTTP/1.0\r\n",
         "GET /x\\x1B[2J\\x1B]0;pwned\\x07 HTTP/1.0\r\n"},
        {"a\rb\tc\x7f\0d\r\r\n"sv, "a\\x0Db\\x09c\\x7F\\x00d\\x0D\r\n"},
        {"lone\n", "lone\n"},
        {"caf\xc3\xa9 \xe2\x82\xac\n", "caf\xc3\xa9 \xe2\x82\xac\n"},
        // A body line cut by its announced length still ends its entry with a line end.
        {"x", "x\r\n"},
        {"x\r", "x\\x0D\r\n"},
        {"", "\r\n"},
    };
    for (const auto& [line, logged] : cases) {
        EXPECT_EQ(LoggedLine(line), logged);
    }
}

TEST(LogEntries, ALongLineIsCutToFitTheEntryAndKeepsItsLineEnd) {
    const std::string plain =
        ComposeConnectionEntry(7, Peer(), std::string(999, 'a') + "\n", 1262304000);
    EXPECT_EQ(plain.size(), kLogEntryMaxChars);
    EXPECT_TRUE(plain.ends_with("aaa\n"));
    const std::string crlf =
        ComposeConnectionEntry(7, Peer(), std::string(998, 'a') + "\r\n", 1262304000);
    EXPECT_EQ(crlf.size(), kLogEntryMaxChars);
    EXPECT_TRUE(crlf.ends_with("aaa\r\n"));
    // A cut never splits an escape or a character outside the basic plane.
    const std::string escapes =
        ComposeConnectionEntry(7, Peer(), std::string(999, '\x01') + "\r\n", 1262304000);
    EXPECT_LE(escapes.size(), kLogEntryMaxChars);
    EXPECT_TRUE(escapes.ends_with("\\x01\r\n")) << escapes.substr(escapes.size() - 8);
    std::string emoji;
    for (int i = 0; i < 480; ++i) {
        emoji += "\xf0\x9f\x98\x80";
    }
    for (const std::string& prefix : {std::string(), std::string("b")}) {
        const std::string entry =
            ComposeConnectionEntry(7, Peer(), prefix + emoji + "\n", 1262304000);
        EXPECT_TRUE(entry.ends_with("\xf0\x9f\x98\x80\n"));
        EXPECT_EQ(entry.find("\xef\xbf\xbd"), std::string::npos); // no U+FFFD from a split
    }
}

TEST(LogEntries, SocketErrorLineAndMaskedSecrets) {
    EXPECT_EQ(ComposeSocketErrorLine(CBlockingSocketException("Receive timeout", 0),
                                     "SERVER:", 1262304000),
              "WINSOCK ERROR--SERVER: Receive timeout error -- 01/01/10 00:00:00 GMT\r\n");
    const std::string longName(60, 'x');
    EXPECT_EQ(ComposeSocketErrorLine(CBlockingSocketException(longName.c_str(), 0), "P", 0),
              "WINSOCK ERROR--P " + std::string(48, 'x') + " -- 01/01/70 00:00:00 GMT\r\n");
    EXPECT_EQ(MaskedLine("hunter2\r\n"), "********\r\n");
    EXPECT_EQ(MaskedLine("hunter2\n"), "********\n");
}

class RequestedFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_root.Write("default.htm", "root page");
        m_root.Write("docs/default.htm", "docs page");
        m_root.Write("d/default.htm", "d page");
        m_root.Write("a.txt", "a");
        m_root.Write(".ssh/id_rsa", "secret");
        m_outside.Write("secret.txt", "outside");
        std::filesystem::create_symlink(m_outside.Path() / "secret.txt",
                                        m_root.Path() / "link.txt");
        std::filesystem::create_symlink(m_outside.Path(), m_root.Path() / "out");
        std::filesystem::create_symlink("docs/default.htm", m_root.Path() / "inner.htm");
        ::mkfifo((m_root.Path() / "fifo").c_str(), 0600);
        m_strRoot = std::filesystem::canonical(m_root.Path()).string();
        m_rootFd = CUniqueFd(::open(m_strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    // The kernel-checked lookup below the folder and the real-path check must agree.
    std::string Content(std::string_view path) const {
        const std::string slow = Read(OpenRequestedFile(path, m_strRoot));
        const std::string fast = Read(OpenRequestedFile(path, m_strRoot, m_rootFd.Get()));
        EXPECT_EQ(slow, fast) << path;
        return fast;
    }
    static std::string Read(const CUniqueFd& fd) {
        if (!fd) {
            return "<none>";
        }
        char buffer[64];
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    CUniqueFd m_rootFd;
    CTempDir m_root;
    CTempDir m_outside;
    std::string m_strRoot;
};

TEST_F(RequestedFile, FoldersServeTheirDefaultPage) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"/", "root page"},      {"", "root page"},     {"/docs", "docs page"},
        {"/docs/", "docs page"}, {"/d", "d page"},      {"/a.txt", "a"},
        {"/missing", "<none>"},  {"/a.txt/", "<none>"}, {"/inner.htm", "docs page"},
    };
    for (const auto& [path, content] : cases) {
        EXPECT_EQ(Content(path), content) << path;
    }
}

TEST_F(RequestedFile, EveryWayOutOfTheFolderIsRefused) {
    const std::string outside = m_outside.Path().string();
    for (const std::string& path : std::vector<std::string>{
             "/../" + m_outside.Path().filename().string() + "/secret.txt", "/docs/../a.txt", "/..",
             "/.ssh/id_rsa", "/docs/.hidden", "//etc/passwd", "/" + outside + "/secret.txt",
             "/" + outside.substr(1) + "/secret.txt", "/link.txt", "/out/secret.txt",
             std::string("/a.txt\0x", 8), "/fifo"}) {
        EXPECT_EQ(Content(path), "<none>") << path;
    }
    EXPECT_FALSE(IsServableName("x/./y"));
    EXPECT_TRUE(IsServableName("x/y.z/"));
}

TEST_F(RequestedFile, ConfigurationFilesAreNeverServedUnderAnyName) {
    m_root.Write("export.ovx", "admin:9983");
    m_root.Write("Saved.OvX", "admin:9983");
    m_root.Write("sub/x.ovx", "admin:9983");
    m_root.Write("notes.ovx.txt", "notes");
    std::filesystem::create_symlink("export.ovx", m_root.Path() / "list.htm");
    std::filesystem::create_directories(m_root.Path() / "conf");
    std::filesystem::create_symlink("../export.ovx", m_root.Path() / "conf/default.htm");
    for (const char* path : {"/export.ovx", "/EXPORT.OVX", "/Saved.OvX", "/sub/x.ovx", "/list.htm",
                             "/conf", "/conf/", "/conf/default.htm", "/export.ovx/"}) {
        EXPECT_EQ(Content(path), "<none>") << path;
    }
    EXPECT_EQ(Content("/notes.ovx.txt"), "notes");
}

TEST(RequestedFileWithoutFolder, NoFolderMeansNoFile) {
    // A served folder that could not be resolved must not turn names into absolute paths.
    for (const char* path : {"/etc/passwd", "etc/passwd", "//etc/passwd", "/"}) {
        EXPECT_FALSE(OpenRequestedFile(path, "")) << path;
        EXPECT_FALSE(OpenRequestedFile(path, "relative/folder")) << path;
    }
}

} // namespace
