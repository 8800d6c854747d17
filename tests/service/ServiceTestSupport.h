// The fixture of the credential service tests: the service on a free loopback port with short
// waits, over a directory core of its own, logging into a capture file.
#pragma once

#include "core/COrvaneSrvCore.h"
#include "service/CCredentialService.h"
#include "tests/service/CClient.h"
#include "tests/support/CLogCapture.h"
#include "tests/support/CTempDir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>

namespace svctest {

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
    // An authorized (at ip), present server filed under its MAC text.
    void AddServer(const std::string& mac, const std::string& ip, bool bAuthorized = true,
                   bool bOnline = true, const std::u16string& password = u"secret");

    // A connection that has sent a password push's request line and headers and holds back its
    // body, once the service has read the headers; its body is "new\n".
    std::unique_ptr<CClient> HoldPastHeaders();
    // A connection to the port that sends nothing, once the service has admitted it. Both count
    // on the connections served settling first: a client has its answer just before its slot
    // is given back.
    std::unique_ptr<CClient> HoldSilent(uint16_t port);

    CTempDir m_dir;     // registry file
    CTempDir m_docRoot; // what GET serves
    std::unique_ptr<CLogCapture> m_pLog;
    std::unique_ptr<COrvaneSrvCore> m_pCore;
    std::unique_ptr<CCredentialService> m_pService;
    uint16_t m_nPort = 0;
    bool m_bStarted = false;
};

} // namespace svctest
