// Helpers of the credential service tests: temporary folders, a capture of the service's log,
// raw TCP clients, and a fixture that runs the service on a free
// loopback port with short waits over a directory core of its own.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "service/CServiceContext.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>

namespace svctest {

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::filesystem::path& Path() const { return m_path; }
    void Write(const std::string& name, std::string_view content) const;

private:
    std::filesystem::path m_path;
};

// A file that the service logs into while it lives (standard error stays free for the
// sanitizers' reports).
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    int Fd() const { return m_fd; }
    std::string Text() const;
    // Polls until the captured text contains needle, up to the timeout.
    bool WaitFor(std::string_view needle, std::chrono::milliseconds timeout) const;

private:
    std::filesystem::path m_file;
    int m_fd = -1;
};

// A connected client socket to 127.0.0.1:port, closed when it goes.
class CClient {
public:
    explicit CClient(uint16_t port);
    ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    void Send(std::string_view bytes) const;
    // Everything until the server closes (or the timeout passes).
    std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Whether the server closed within the timeout.
    bool WaitClosed(std::chrono::milliseconds timeout) const;
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// Sends a whole request on a new connection and answers everything the server sent back.
std::string Exchange(uint16_t port, std::string_view request);

std::string Base64(std::string_view text);

// Runs a command with bash and answers its standard output.
std::string RunShell(const std::string& command);

class CServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the service on a free port with the short waits unless told otherwise.
    void StartService(CServiceOptions options = ShortOptions());
    void StopService();
    static CServiceOptions ShortOptions();
    uint16_t Port() const { return m_nPort; }

    void AddUser(const std::u16string& name, const std::u16string& password,
                 std::vector<std::u16string> groups = {});
    void AddGroup(const std::u16string& name, std::vector<std::u16string> members,
                  std::vector<std::u16string> access = {});
    // An authorized, present server filed under its MAC text.
    void AddServer(const std::string& mac, const std::string& ip, bool bAuthorized = true,
                   bool bOnline = true, const std::u16string& password = u"secret");

    CTempDir m_dir;     // registry file
    CTempDir m_docRoot; // what GET serves
    std::unique_ptr<CLogCapture> m_pLog;
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    uint16_t m_nPort = 0;
    bool m_bStarted = false;
};

} // namespace svctest
