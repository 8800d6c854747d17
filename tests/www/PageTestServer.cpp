// The credential service on its real ports (plain and TLS) over a small fixed directory, for the
// browser test of the self-service page: it serves the page's folder and answers "/Query" until
// its standard input ends. The TLS port's certificate is made in STORE_DIR, as the program makes
// it beside its store. It binds every local address, so it runs only inside a network namespace
// that the test made. Usage: orvane-page-test-server WWW_DIR STORE_DIR
#include "core/CDirectoryMessage.h"
#include "core/COrvaneSrvCore.h"
#include "service/CCredentialService.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct CArray {
    const char* mac;
    const char* ip;
    const char* product;
    const char* type;
    const char* systemName;
    const char16_t* password;
    bool bAuthorized;
    bool bOnline;
};

// The operator's group reaches the first four: two are listed, one is offline and one was never
// logged in to. The administrators' group reaches the first and the last, whose name is markup
// that the page must show as text.
constexpr CArray kArrays[] = {
    {"00:1B:2C:3D:4E:01", "10.20.0.11", "Vault 4200", "SAN", "vault-east-01", u"Tr0ub&<d\"r>3'",
     true, true},
    {"00:1B:2C:3D:4E:02", "10.20.0.12", "Vault 2100", "NAS", "files-lab-02", u"c0rrect-h0rse", true,
     true},
    {"00:1B:2C:3D:4E:03", "10.20.0.13", "Vault 4200", "SAN", "vault-west-03", u"offline-pw", true,
     false},
    {"00:1B:2C:3D:4E:04", "10.20.0.14", "Vault 2100", "NAS", "files-new-04", u"", false, true},
    {"00:1B:2C:3D:4E:05", "10.20.0.15", "Vault 9000", "SAN",
     "<img src=x onerror=\"document.title='injected'\">", u"admin-only", true, true},
};

void AddArray(COrvaneSrvCore& core, const CArray& a) {
    auto record = std::make_unique<CServerData>();
    record->SetMAC(a.mac);
    record->SetIPAddr(a.ip);
    record->SetProduct(a.product);
    record->SetType(a.type);
    record->SetSystemName(a.systemName);
    record->m_bAuthorized = a.bAuthorized ? 1 : 0;
    record->m_bOnline = a.bOnline ? 1 : 0;
    record->m_strLoginUserName = u"root";
    record->m_strLoginPasswd = a.password;
    const std::string mac = a.mac;
    core.ChangeServers([&](CServerTable& servers) {
        servers.Add(std::u16string(mac.begin(), mac.end()), std::move(record));
    });
}

void SetAccess(COrvaneSrvCore& core, const std::u16string& name,
               std::vector<std::u16string> access) {
    auto carrier = std::make_unique<CGroupData>(name);
    carrier->m_listAccess = std::move(access);
    core.SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(carrier)));
}

void AddUser(COrvaneSrvCore& core, const std::u16string& name, const std::u16string& password,
             std::vector<std::u16string> groups) {
    auto user = std::make_unique<CUserData>(name, password);
    user->m_listGroups = std::move(groups);
    core.SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
}

void FillDirectory(COrvaneSrvCore& core) {
    for (const CArray& a : kArrays) {
        AddArray(core, a);
    }
    core.SendMessage(CDirectoryMessage::AddGroup(false, std::make_unique<CGroupData>(u"Storage")));
    SetAccess(
        core, u"Storage",
        {u"00:1B:2C:3D:4E:01", u"00:1B:2C:3D:4E:02", u"00:1B:2C:3D:4E:03", u"00:1B:2C:3D:4E:04"});
    // The built-in administrator (admin, 9983) is a member already.
    SetAccess(core, u"Administrator", {u"00:1B:2C:3D:4E:01", u"00:1B:2C:3D:4E:05"});
    AddUser(core, u"dana", u"Blue-Harbor-42", {u"Storage", u"Everyone"});
    AddUser(core, u"erik", u"no-arrays", {u"Everyone"});
    // Names and passwords travel as UTF-8 inside the credentials.
    AddUser(core, u"j\u00f6rg", u"p\u00e4ss:w\u00f6rd", {u"Storage"});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: orvane-page-test-server WWW_DIR STORE_DIR\n", stderr);
        return 2;
    }
    // A peer that closes its connection early must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    auto core = std::make_unique<COrvaneSrvCore>(
        std::make_unique<CRegistryHive>(std::filesystem::path(argv[2]) / "registry.db"));
    // As start-up does: the store's keys exist before any account is written to them.
    if (!core->LoadDirectory() || !core->CreateBuiltInAccounts()) {
        std::fputs("orvane-page-test-server: the directory store cannot be used\n", stderr);
        return 1;
    }
    FillDirectory(*core);

    CServiceOptions options;
    options.docRoot = argv[1];
    options.certificateFolder = argv[2];
    CCredentialService service;
    service.StartCredentialServer(*core, options);
    if (service.Port() == 0) {
        std::fputs("orvane-page-test-server: the service did not start\n", stderr);
        return 1;
    }
    if (service.TlsPort() == 0) {
        std::fputs("orvane-page-test-server: the TLS port did not start\n", stderr);
        service.StopCredentialServer();
        return 1;
    }
    std::printf("listening on ports %u and %u (TLS)\n", static_cast<unsigned>(service.Port()),
                static_cast<unsigned>(service.TlsPort()));
    std::fflush(stdout);

    // The test holds the other end of standard input; when it closes it, or ends, so does this.
    while (std::fgetc(stdin) != EOF) {
    }
    service.StopCredentialServer();
    core->FreeTables();
    return 0;
}
