// Feeds arbitrary bytes to the credential service's request handling through a socket pair,
// as one client connection, over a directory with a few users, groups and storage servers and
// a served folder with a few files.
#include "core/CDirectoryMessage.h"
#include "service/listener/CBlockingSocketException.h"
#include "service/http/CRequestHandler.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct CFixture {
    CFixture() {
        char dirTemplate[] = "/tmp/orvane-request-fuzz-XXXXXX";
        root = ::mkdtemp(dirTemplate);
        std::filesystem::create_directories(root / "www/docs");
        std::ofstream(root / "www/default.htm") << "<html>root</html>";
        std::ofstream(root / "www/docs/default.htm") << "<html>docs</html>";
        core =
            std::make_unique<COrvaneSrvCore>(std::make_unique<CRegistryHive>(root / "registry.db"));
        // As start-up does: the store's keys exist before any account is written to them.
        core->LoadDirectory();
        core->CreateBuiltInAccounts();
        auto user = std::make_unique<CUserData>(u"op", u"pw:x");
        user->m_listGroups = {u"Everyone", u"ops"};
        core->SendMessage(CDirectoryMessage::AddUser(false, std::move(user)));
        auto group = std::make_unique<CGroupData>(u"ops");
        group->m_listUsers = {u"op"};
        core->SendMessage(CDirectoryMessage::AddGroup(false, std::move(group)));
        auto access = std::make_unique<CGroupData>(u"ops");
        access->m_listAccess = {u"00:11", u"00:22"};
        core->SendMessage(CDirectoryMessage::SetGroupAccess(false, std::move(access)));
        for (const char* mac : {"00:11", "00:22", "00:33"}) {
            auto server = std::make_unique<CServerData>();
            server->SetMAC(mac);
            // The fuzzed connection's peer is 0.0.0.0: pushes from it reach the records.
            server->SetIPAddr("0.0.0.0");
            server->SetAuthorizedIP("0.0.0.0");
            server->m_bAuthorized = mac[4] != '3';
            server->m_strLoginUserName = u"root";
            server->m_strLoginPasswd = u"secret";
            core->ChangeServers([&](CServerTable& servers) {
                servers.Add(std::u16string(mac, mac + 5), std::move(server));
            });
        }
        CServiceOptions options;
        options.nWaitMs = 20;
        options.nLogFd = -1;
        // Every input comes from one address and tries few names: a block or a slowed name
        // would hide the credentials check.
        options.nMaxFailedChecks = 1 << 30;
        options.nMaxFailedChecksPerName = 1 << 30;
        options.docRoot = root / "www";
        context = std::make_unique<CServiceContext>(*core, options,
                                                    std::make_shared<CIdleConnectionThreads>());
    }
    ~CFixture() {
        context.reset();
        core.reset();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    std::filesystem::path root;
    std::unique_ptr<COrvaneSrvCore> core;
    std::unique_ptr<CServiceContext> context;
};

// Keeps every input inside what one socket buffer holds, so that writing it never blocks.
constexpr std::size_t kMaxInput = 16384;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static CFixture fixture;
    if (size > kMaxInput) {
        return -1;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    if (size > 0 && ::send(fds[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    ::shutdown(fds[1], SHUT_WR);
    CHttpBlockingSocket socket;
    socket.m_hSock = fds[0];
    socket.m_nWaitMs = fixture.context->m_options.nWaitMs;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    try {
        CRequestHandler(socket, peer, *fixture.context).Run();
    } catch (const CBlockingSocketException&) {
    }
    socket.Close();
    char buffer[4096];
    while (::recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    ::close(fds[1]);
    return 0;
}
