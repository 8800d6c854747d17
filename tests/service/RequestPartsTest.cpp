// The pieces of request handling that need no network: the Basic credentials test, the canned
// responses and dates, the log entries, and which names GET may open.
#include "platform/text/Base64.h"
#include "service/CRequestHandler.h"
#include "service/CheckBasicCredentials.h"
#include "service/HttpResponses.h"
#include "service/OpenRequestedFile.h"
#include "service/SendFileResponse.h"
#include "service/ServiceLog.h"
#include "tests/service/ServiceTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <regex>
#include <sys/stat.h>

namespace {

class Credentials : public ::testing::Test {
protected:
    void SetUp() override {
        m_users[u"admin"] = std::make_unique<CUserData>(u"admin", u"9983");
        m_users[u"empty"] = std::make_unique<CUserData>(u"empty", u"");
        m_users[u"long"] = std::make_unique<CUserData>(u"long", std::u16string(200, u'p'));
    }
    int Check(std::string_view decoded) {
        return CheckBasicCredentials(Base64Encode(decoded) + "\r\n", m_name, m_users);
    }
    CUserTable m_users;
    std::string m_name;
};

TEST_F(Credentials, NameAndPasswordAreComparedWithLetterCase) {
    EXPECT_EQ(Check("admin:9983"), kCredentialsOk);
    EXPECT_EQ(m_name, "admin");
    EXPECT_EQ(Check("admin:99830"), kCredentialsWrongPassword);
    EXPECT_EQ(Check("Admin:9983"), kCredentialsNoSuchUser);
    EXPECT_EQ(m_name, "Admin");
    EXPECT_EQ(Check("nobody:x"), kCredentialsNoSuchUser);
}

TEST_F(Credentials, ATrailingColonMeansAnEmptyPasswordAndNoColonIsRefused) {
    EXPECT_EQ(Check("empty:"), kCredentialsOk);
    EXPECT_EQ(Check("admin:"), kCredentialsWrongPassword);
    EXPECT_EQ(Check("admin"), kCredentialsNoSuchUser);
    EXPECT_EQ(Check(""), kCredentialsNoSuchUser);
}

TEST_F(Credentials, LongCredentialsAreCheckedInFull) {
    EXPECT_EQ(Check("long:" + std::string(200, 'p')), kCredentialsOk);
    EXPECT_EQ(Check("long:" + std::string(199, 'p')), kCredentialsWrongPassword);
    EXPECT_EQ(Check("long:" + std::string(200, 'p') + "q"), kCredentialsWrongPassword);
}

TEST_F(Credentials, PasswordsMayHoldColons) {
    m_users[u"c"] = std::make_unique<CUserData>(u"c", u"a:b:");
    EXPECT_EQ(Check("c:a:b:"), kCredentialsOk);
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

TEST(Responses, FileLengthsBeyond32BitsAreWrittenInFull) {
    EXPECT_NE(FileResponseHeader(0, int64_t{3} << 30).find("\r\nContent-Length: 3221225472\r\n"),
              std::string::npos);
}

// What a file response consists of, without keeping it: the header, the body's byte count, and
// the body's last bytes.
struct CSentFile {
    static constexpr std::size_t kTail = 8;
    std::string header;
    uint64_t nBodyBytes = 0;
    std::string tail;
    std::size_t nPieces = 0;
};

CSentFile SendFile(const std::filesystem::path& file) {
    const CUniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    CSentFile sent;
    SendFileResponse(fd.Get(), 0, [&](std::string_view piece) {
        if (sent.nPieces++ == 0) {
            const std::size_t end = piece.find("\r\n\r\n") + 4;
            sent.header = piece.substr(0, end);
            piece.remove_prefix(end);
        }
        sent.nBodyBytes += piece.size();
        sent.tail += piece.substr(piece.size() - std::min(piece.size(), CSentFile::kTail));
        sent.tail.erase(0, sent.tail.size() - std::min(sent.tail.size(), CSentFile::kTail));
    });
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

TEST(FileResponse, PiecesOfFiveThousandBytesTheFirstWithTheHeader) {
    CTempDir dir;
    dir.Write("12001", std::string(12001, 'x'));
    dir.Write("empty", "");
    const CSentFile sent = SendFile(dir / "12001");
    EXPECT_EQ(sent.nPieces, 3u);
    EXPECT_EQ(sent.nBodyBytes, 12001u);
    const CSentFile empty = SendFile(dir / "empty");
    EXPECT_EQ(empty.nPieces, 1u);
    EXPECT_EQ(empty.nBodyBytes, 0u);
    EXPECT_TRUE(
        empty.header.ends_with("Content-Length: 0\r\nLast-Modified: Fri, 20100101 GMT\r\n\r\n"));
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
    EXPECT_EQ(LoggedLine("GET /x\x1b[2J\x1b]0;pwned\a HTTP/1.0\r\n"),
              "GET /x\\x1B[2J\\x1B]0;pwned\\x07 HTTP/1.0\r\n");
    EXPECT_EQ(LoggedLine(std::string("a\rb\tc\x7f\0d\r\r\n", 11)),
              "a\\x0Db\\x09c\\x7F\\x00d\\x0D\r\n");
    EXPECT_EQ(LoggedLine("lone\n"), "lone\n");
    EXPECT_EQ(LoggedLine("caf\xc3\xa9 \xe2\x82\xac\n"), "caf\xc3\xa9 \xe2\x82\xac\n");
    // A body line cut by its announced length still ends its entry with a line end.
    EXPECT_EQ(LoggedLine("x"), "x\r\n");
    EXPECT_EQ(LoggedLine("x\r"), "x\\x0D\r\n");
    EXPECT_EQ(LoggedLine(""), "\r\n");
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
    EXPECT_EQ(Content("/"), "root page");
    EXPECT_EQ(Content(""), "root page");
    EXPECT_EQ(Content("/docs"), "docs page");
    EXPECT_EQ(Content("/docs/"), "docs page");
    EXPECT_EQ(Content("/d"), "d page");
    EXPECT_EQ(Content("/a.txt"), "a");
    EXPECT_EQ(Content("/missing"), "<none>");
    EXPECT_EQ(Content("/a.txt/"), "<none>");
    EXPECT_EQ(Content("/inner.htm"), "docs page");
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
