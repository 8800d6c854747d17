#include "tests/service/ServiceTestSupport.h"

#include "core/CDirectoryMessage.h"
#include "service/CredentialServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace svctest {

CTempDir::CTempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    m_path = std::filesystem::temp_directory_path() /
             ("orvane-svc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
              std::to_string(rd()));
    std::filesystem::create_directories(m_path);
}

CTempDir::~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void CTempDir::Write(const std::string& name, std::string_view content) const {
    const auto file = m_path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

CLogCapture::CLogCapture() {
    static std::atomic<int> counter{0};
    m_file = std::filesystem::temp_directory_path() /
             ("orvane-svc-log-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    m_fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
}

CLogCapture::~CLogCapture() {
    // The descriptor stays open: a connection thread that is still ending when the test is
    // over may write one more line, as the program's threads may write to standard error.
    std::error_code ec;
    std::filesystem::remove(m_file, ec);
}

std::string CLogCapture::Text() const {
    std::ifstream in(m_file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool CLogCapture::WaitFor(std::string_view needle, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        if (Text().find(needle) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

CClient::CClient(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CClient::~CClient() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void CClient::Send(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t r = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (r <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(r));
    }
}

std::string CClient::ReadAll(std::chrono::milliseconds timeout) const {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + timeout;
    char buffer[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        pollfd pfd{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            return text;
        }
        const ssize_t r = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (r <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(r));
    }
}

bool CClient::WaitClosed(std::chrono::milliseconds timeout) const {
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    char byte;
    return ::recv(m_fd, &byte, 1, MSG_PEEK) <= 0;
}

std::string Exchange(uint16_t port, std::string_view request) {
    CClient client(port);
    EXPECT_TRUE(client.Connected());
    client.Send(request);
    return client.ReadAll();
}

std::string Base64(std::string_view text) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8) |
                           static_cast<unsigned char>(text[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == text.size()) {
        const unsigned v = static_cast<unsigned char>(text[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == text.size()) {
        const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                           (static_cast<unsigned char>(text[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string RunShell(const std::string& command) {
    std::string quoted = "'";
    for (const char c : command) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    quoted += "'";
    std::string out;
    FILE* pipe = ::popen(("bash -c " + quoted).c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    ::pclose(pipe);
    return out;
}

void CServiceTest::SetUp() {
    m_pLog = std::make_unique<CLogCapture>();
    m_pCore = std::make_unique<COrvaneSrvCore>(
        std::make_unique<CRegistryHive>(m_dir.Path() / "registry.db"));
    m_pCore->CreateBuiltInAccounts();
}

void CServiceTest::TearDown() {
    StopService();
    if (m_pCore) {
        m_pCore->FreeTables();
        m_pCore.reset();
    }
    m_pLog.reset();
}

CServiceOptions CServiceTest::ShortOptions() {
    CServiceOptions options;
    options.nPort = 0;
    options.nWaitMs = 500;
    options.nRequestDeadlineMs = 3000;
    options.nLingerMs = 500;
    return options;
}

void CServiceTest::StartService(CServiceOptions options) {
    if (options.docRoot.empty()) {
        options.docRoot = m_docRoot.Path();
    }
    options.nLogFd = m_pLog->Fd();
    StartCredentialServer(*m_pCore, options);
    m_bStarted = true;
    m_nPort = CredentialServerPort();
}

void CServiceTest::StopService() {
    if (m_bStarted) {
        StopCredentialServer();
        m_bStarted = false;
    }
}

void CServiceTest::AddUser(const std::u16string& name, const std::u16string& password,
                           std::vector<std::u16string> groups) {
    auto user = std::make_unique<CUserData>(name, password);
    user->m_listGroups = std::move(groups);
    m_pCore->SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
}

void CServiceTest::AddGroup(const std::u16string& name, std::vector<std::u16string> members,
                            std::vector<std::u16string> access) {
    auto group = std::make_unique<CGroupData>(name);
    group->m_listUsers = std::move(members);
    m_pCore->SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
    auto carrier = std::make_unique<CGroupData>(name);
    carrier->m_listAccess = std::move(access);
    m_pCore->SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(carrier)));
}

void CServiceTest::AddServer(const std::string& mac, const std::string& ip, bool bAuthorized,
                             bool bOnline, const std::u16string& password) {
    auto record = std::make_unique<CServerData>();
    record->SetMAC(mac);
    record->SetIPAddr(ip);
    record->SetProduct("Vault");
    record->SetType("SAN");
    record->SetSystemName("array-" + mac);
    record->m_bAuthorized = bAuthorized ? 1 : 0;
    record->m_bOnline = bOnline ? 1 : 0;
    record->m_strLoginUserName = u"root";
    record->m_strLoginPasswd = password;
    auto lock = m_pCore->Guard()->LockExclusive();
    m_pCore->m_mapServers.Add(std::u16string(mac.begin(), mac.end()), std::move(record));
}

} // namespace svctest
