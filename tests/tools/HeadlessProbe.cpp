// orvane-headless-probe: the program's parts without a window (directory, credential service,
// discovery passes, server list, login client), driven by a script, for the lab tests and the
// discovery and login benchmark. It runs only inside a lab's manager namespace.
//
// usage: orvane-headless-probe [--request-timeout-ms N] [--connect-timeout-ms N]
//                              [--store FILE] SCRIPT
// --store: the directory store to use and keep (by default a scratch one); group and user lines
// are then written to it, so that the program started afterwards on that store finds them.
// Script lines (the main thread is the window thread; commands run one after another):
//   group NAME MAC...         a group that reaches these servers
//   user NAME PASSWORD GROUP  a user in that group
//   service                   starts the credential service on port 51001
//   pass                      runs one discovery pass to its end; prints
//                             "PASS rows=N ms=T last-row-ms=L"
//   rows                      prints "ROW ip|system name|product|version|mac|auth" per row
//   login USER PASSWORD IP... the Login button for the rows of these addresses ("all": every row)
//   wait-logins               runs until every login has ended; prints "LOGINS ms=T"
//   sh COMMAND                runs COMMAND with sh
// Message boxes are printed as "BOX caption|text|icon" and answered at once.
#include "control/CLoginPress.h"
#include "core/audit/LoginAudit.h"
#include "core/COrvaneSrvCore.h"
#include "platform/registry/CRegistryHive.h"
#include "platform/text/TextConv.h"
#include "platform/ui/CEventLoop.h"
#include "service/CCredentialService.h"
#include "storage/CLoginClient.h"
#include "storage/CServerDiscovery.h"
#include "storage/CServerRowList.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class CPrintingBoxes : public IMessageBoxes {
public:
    using IMessageBoxes::Show;
    EMessageAnswer Show(std::u16string_view text, std::u16string_view caption, EMessageIcon icon,
                        EMessageButtons) override {
        std::lock_guard lock(m_mutex);
        std::printf("BOX %s|%s|%d\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str(),
                    static_cast<int>(icon));
        std::fflush(stdout);
        return EMessageAnswer::Ok;
    }

private:
    std::mutex m_mutex;
};

// The list, noting when its last row came.
class CTimedList : public CServerRowList {
public:
    std::size_t AppendRow(std::u16string_view ip) override {
        m_lastAppend = Clock::now();
        return CServerRowList::AppendRow(ip);
    }
    Clock::time_point m_lastAppend;
};

class CProbe {
public:
    CProbe(CLoginOptions options, const std::filesystem::path& store)
        : m_core(std::make_unique<CRegistryHive>(store.empty() ? Scratch() : store)),
          m_bPersist(!store.empty()), m_discovery(m_core.MakeServerTableWorker<CServerDiscovery>(
                                          m_list, m_loop.Window(), CServerDiscovery::CHooks{})),
          m_login(m_core.MakeServerTableWorker<CLoginClient>(m_core.LoginPool(), options)) {
        if (m_bPersist) {
            m_core.LoadDirectory(); // makes the keys that the records go under
        }
    }
    ~CProbe() {
        m_service.StopCredentialServer();
        m_loop.Window()->Close();
    }

    bool Command(const std::string& line);

private:
    static std::filesystem::path Scratch() {
        // A folder of the lab's, or one of its own: opening a store narrows its folder to the
        // owner, which must never be /tmp itself.
        if (const char* dir = std::getenv("LAB_DIR"); dir != nullptr) {
            return std::filesystem::path(dir) / "probe-registry.db";
        }
        char folder[] = "/tmp/orvane-probe-XXXXXX";
        return std::filesystem::path(::mkdtemp(folder) != nullptr ? folder : ".") /
               "probe-registry.db";
    }
    void Group(std::istringstream& args);
    void User(std::istringstream& args);
    void Pass();
    void Rows() const;
    void Login(std::istringstream& args);
    void WaitForLogins();

    CEventLoop m_loop;
    COrvaneSrvCore m_core;
    bool m_bPersist;
    CTimedList m_list;
    std::unique_ptr<CServerDiscovery> m_discovery;
    std::unique_ptr<CLoginClient> m_login;
    std::shared_ptr<IMessageBoxes> m_pBoxes = std::make_shared<CPrintingBoxes>();
    // Logins asked for and logins whose outcome the window thread has seen.
    std::size_t m_nLogins = 0;
    std::size_t m_nLoginsDone = 0;
    CCredentialService m_service;
    bool m_bFirstPass = true;
    Clock::time_point m_loginStart;
};

void CProbe::Group(std::istringstream& args) {
    std::string name;
    args >> name;
    auto group = std::make_unique<CGroupData>(Utf8ToUtf16(name));
    for (std::string mac; args >> mac;) {
        group->m_listAccess.push_back(Utf8ToUtf16(mac));
    }
    m_core.SendMessage(CDirectoryMessage::AddGroup(m_bPersist, std::move(group)));
}

void CProbe::User(std::istringstream& args) {
    std::string name;
    std::string password;
    std::string group;
    args >> name >> password >> group;
    auto user = std::make_unique<CUserData>(Utf8ToUtf16(name), Utf8ToUtf16(password));
    user->m_listGroups.push_back(Utf8ToUtf16(group));
    m_core.SendMessage(CDirectoryMessage::AddUser(m_bPersist, std::move(user)));
}

void CProbe::Pass() {
    const auto start = Clock::now();
    m_list.m_lastAppend = start;
    if (std::exchange(m_bFirstPass, false)) {
        m_discovery->StartFirstPass();
    } else {
        m_discovery->OnTimer();
    }
    m_loop.RunUntil([&] { return !m_discovery->IsDiscovering(); });
    std::printf("PASS rows=%zu ms=%.0f last-row-ms=%.0f\n", m_list.RowCount(), MsSince(start),
                std::chrono::duration<double, std::milli>(m_list.m_lastAppend - start).count());
}

void CProbe::Rows() const {
    for (std::size_t row = 0; row < m_list.RowCount(); ++row) {
        std::string text;
        for (std::size_t col = 0; col < kServerColumnCount; ++col) {
            text += (col ? "|" : "") +
                    Utf16ToUtf8(m_list.CellText(row, static_cast<EServerColumn>(col)));
        }
        std::printf("ROW %s\n", text.c_str());
    }
}

void CProbe::Login(std::istringstream& args) {
    std::string user;
    std::string password;
    args >> user >> password;
    std::vector<std::size_t> rows;
    for (std::string ip; args >> ip;) {
        if (ip == "all") {
            for (std::size_t row = 0; row < m_list.RowCount(); ++row) {
                rows.push_back(row);
            }
        } else if (std::size_t row = m_list.FindRow(EServerColumn::IPAddr, Utf8ToUtf16(ip));
                   row != IServerListView::npos) {
            rows.push_back(row);
        }
    }
    m_loginStart = Clock::now();
    std::vector<CLoginTarget> targets;
    for (const std::size_t row : rows) {
        targets.push_back({m_list.CellText(row, EServerColumn::MAC),
                           m_list.CellText(row, EServerColumn::IPAddr)});
        m_list.SetCellText(row, EServerColumn::Auth, u"Logging");
    }
    m_nLogins += targets.size();
    auto press = std::make_shared<CLoginPress>(targets.size(), std::vector<CLoginSkipped>(), m_list,
                                               m_loop.Window(), m_pBoxes,
                                               LoginAuditor(m_core.AuditTrail(), "console"));
    m_login->Login(std::move(targets), Utf8ToUtf16(user), Utf8ToUtf16(password),
                  [press, window = m_loop.Window(), this](const CLoginOutcome& outcome) {
                      press->OnOutcome(outcome);
                      window->Post([this] { ++m_nLoginsDone; });
                  });
}

void CProbe::WaitForLogins() {
    m_loop.RunUntil([&] { return m_nLoginsDone == m_nLogins; });
    std::printf("LOGINS ms=%.0f\n", MsSince(m_loginStart));
}

bool CProbe::Command(const std::string& line) {
    std::istringstream args(line);
    std::string verb;
    args >> verb;
    if (verb.empty() || verb.front() == '#') {
        return true;
    }
    std::fflush(stdout);
    if (verb == "group") {
        Group(args);
    } else if (verb == "user") {
        User(args);
    } else if (verb == "service") {
        m_service.StartCredentialServer(m_core);
    } else if (verb == "pass") {
        Pass();
    } else if (verb == "rows") {
        Rows();
    } else if (verb == "login") {
        Login(args);
    } else if (verb == "wait-logins") {
        WaitForLogins();
    } else if (verb == "sh") {
        std::fflush(stdout);
        return std::system(line.substr(line.find("sh") + 2).c_str()) != -1;
    } else {
        std::fprintf(stderr, "orvane-headless-probe: unknown command %s\n", verb.c_str());
        return false;
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    CLoginOptions options;
    std::string script;
    std::filesystem::path store;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--request-timeout-ms" && i + 1 < argc) {
            options.requestTimeout = std::chrono::milliseconds(std::atoi(argv[++i]));
        } else if (arg == "--store" && i + 1 < argc) {
            store = argv[++i];
        } else if (arg == "--connect-timeout-ms" && i + 1 < argc) {
            options.connectTimeout = std::chrono::milliseconds(std::atoi(argv[++i]));
        } else {
            script = arg;
        }
    }
    std::ifstream in(script);
    if (!in) {
        std::fprintf(stderr, "usage: orvane-headless-probe [--request-timeout-ms N] "
                             "[--connect-timeout-ms N] [--store FILE] SCRIPT\n");
        return 2;
    }
    CProbe probe(options, store);
    for (std::string line; std::getline(in, line);) {
        if (!probe.Command(line)) {
            return 1;
        }
    }
    return 0;
}
