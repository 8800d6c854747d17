#include "tests/service/ServiceTestSupport.h"

#include "core/CDirectoryMessage.h"
#include "service/CCredentialService.h"
#include "tests/support/WaitUntil.h"

namespace svctest {

void CServiceTest::SetUp() {
    m_pLog = std::make_unique<CLogCapture>();
    m_pCore = std::make_unique<COrvaneSrvCore>(
        std::make_unique<CRegistryHive>(m_dir.Path() / "registry.db"));
    // As at start-up: the keys first, so that the built-in accounts are stored, not only held.
    m_pCore->LoadDirectory();
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
    m_pService = std::make_unique<CCredentialService>();
    m_pService->StartCredentialServer(*m_pCore, options);
    m_bStarted = true;
    m_nPort = m_pService->Port();
}

void CServiceTest::StopService() {
    if (m_bStarted) {
        m_pService->StopCredentialServer();
        m_pService.reset();
        m_bStarted = false;
    }
}

std::unique_ptr<CClient> CServiceTest::HoldPastHeaders() {
    const std::size_t nServed = m_pService->ConnectionsServed();
    const std::size_t nWaiting = m_pService->ConnectionsWaitingForRequest();
    auto client = std::make_unique<CClient>(Port());
    client->Send("POST /UpdateAdminPasswd?held HTTP/1.0\r\nContent-Length: 4\r\n\r\n");
    EXPECT_TRUE(WaitUntil([&] {
        return m_pService->ConnectionsServed() == nServed + 1 &&
               m_pService->ConnectionsWaitingForRequest() == nWaiting;
    }));
    return client;
}

std::unique_ptr<CClient> CServiceTest::HoldSilent(uint16_t port) {
    const std::size_t nServed = m_pService->ConnectionsServed();
    auto client = std::make_unique<CClient>(port);
    EXPECT_TRUE(WaitUntil([&] { return m_pService->ConnectionsServed() == nServed + 1; }));
    return client;
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
    if (bAuthorized) {
        record->SetAuthorizedIP(ip);
    }
    record->m_bOnline = bOnline ? 1 : 0;
    // As a login leaves it: the record lists itself with its rendered element.
    record->SetLoginCredentials(u"root", password);
    m_pCore->ChangeServers([&](CServerTable& servers) {
        servers.Add(std::u16string(mac.begin(), mac.end()), std::move(record));
    });
}

} // namespace svctest
