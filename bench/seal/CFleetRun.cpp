// The phases of a fleet run: start-up in the program's order, the measures and the stop.
#include "bench/seal/CFleetRun.h"

#include "core/CDirectoryMessage.h"
#include "core/audit/LoginAudit.h"
#include "core/seal/CAuthorizationSeal.h"
#include "core/seal/SealKeyFile.h"
#include "platform/http/CHttpClient.h"
#include "platform/text/Base64.h"
#include "platform/text/TextConv.h"
#include "storage/CLoginClient.h"
#include "storage/CServerDiscovery.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::u16string_view kGroup = u"fleet-all";
constexpr std::string_view kPassphrase = "the fleet's bench passphrase";
constexpr const char* kVendor = "Tarvik Networks";
constexpr const char* kProduct = "Z220-S16";
constexpr std::chrono::milliseconds kSample{50};
// A "/Query" answer of 10,000 arrays is about 1.6 MB; room for several times that.
constexpr std::size_t kQueryCapacity = std::size_t{64} << 20;
// The seal's lines for the operator shown at most; the others are only counted.
constexpr std::size_t kShownSealLines = 3;
constexpr double kKilobytesPerMegabyte = 1024;
constexpr double kMsPerSecond = 1000;

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A field of /proc/self/status ("VmRSS", "VmHWM") in megabytes; 0 when absent.
double StatusMegabytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
            return std::stod(line.substr(field.size() + 1)) / kKilobytesPerMegabyte;
        }
    }
    return 0;
}

std::size_t Occurrences(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

std::vector<CRegisteredService> Registrations(int nArrays) {
    std::vector<CRegisteredService> services;
    services.reserve(static_cast<std::size_t>(nArrays));
    for (int i = 0; i < nArrays; ++i) {
        services.push_back({"service:raid.004417://" + CFleetRun::Address(i),
                            "(mac=" + CFleetRun::Mac(i) + "),(hostname=array-" + std::to_string(i) +
                                "),(vendor=" + kVendor + "),(product=" + kProduct +
                                "),(type=SAN)"});
    }
    return services;
}

} // namespace

CFleetRun::CFleetRun(CSettings settings) : m_settings(std::move(settings)) {
    m_steps.beforeFree = [this](COrvaneSrvCore&) { m_pChurn.reset(); };
}

CFleetRun::~CFleetRun() {
    if (m_pCore) {
        CFigures ignored;
        Stop(ignored);
    }
}

std::string CFleetRun::Mac(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "02:00:00:00:%02x:%02x", (i >> 8) & 0xff, i & 0xff);
    return text;
}

// 127.1.0.1 onwards, 250 to a /24: every one is loopback, and none is the listener's own.
std::string CFleetRun::Address(int i) {
    constexpr int kPerBlock = 250;
    return "127.1." + std::to_string(i / kPerBlock) + "." + std::to_string(i % kPerBlock + 1);
}

CServiceOptions CFleetRun::ServiceOptions() const {
    CServiceOptions options;
    options.nPort = 0;
    options.nTlsPort = 0;
    options.certificateFolder = m_settings.folder;
    options.nLogFd = -1;
    options.logFile = m_settings.folder / "service.log";
    return options;
}

bool CFleetRun::Start(CSecretBytes key, bool bDiscovery) {
    CDirectoryAgentSlp::Register(Registrations(m_settings.nArrays));
    m_pApp = std::make_unique<COrvaneSrvApp>(COrvaneSrvApp::CServiceHooks{
        [this](COrvaneSrvCore& core) { m_service.StartCredentialServer(core, ServiceOptions()); },
        [this](COrvaneSrvCore&) { m_service.StopCredentialServer(); }});
    COrvaneSrvApp::CSealSetup seal;
    seal.key = std::move(key);
    seal.log = [this](std::string_view line) {
        if (++m_nSealLines <= kShownSealLines) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        }
    };
    seal.loginOptions.nPort = m_settings.nLoginPort;
    m_pApp->SetSealSetup(std::move(seal));
    CAuditTrail::COptions audit;
    audit.file = m_settings.folder / "audit.log";
    m_pApp->SetAuditTrail(std::make_shared<CAuditTrail>(std::move(audit)));
    // Discovery starts where the program's System page starts it: right after the load.
    m_steps.afterLoad = [this, bDiscovery](COrvaneSrvCore& core) {
        if (bDiscovery) {
            m_pChurn = std::make_unique<CDiscoveryChurn>(
                core, CDirectoryAgentSlp::Functions(),
                std::chrono::milliseconds(CServerDiscovery::kPeriodMs));
        }
    };
    CStartUpResult started = m_pApp->StartUp(
        std::make_unique<CRegistryHive>(m_settings.folder / "registry.db"), m_steps);
    if (!started) {
        std::fprintf(stderr, "start-up refused: %s\n", Utf16ToUtf8(started.strError).c_str());
        return false;
    }
    m_pCore = std::move(started.pCore);
    return true;
}

void CFleetRun::Stop(CFigures& figures) {
    const auto t0 = Clock::now();
    m_pApp->ShutDown(*m_pCore, m_steps);
    m_pCore.reset();
    figures.emplace_back("stop_ms", MsSince(t0));
}

void CFleetRun::FillDirectory() {
    auto group = std::make_unique<CGroupData>(std::u16string(kGroup));
    m_pCore->SendMessage(CDirectoryMessage::AddGroup(true, std::move(group)));
    auto access = std::make_unique<CGroupData>(std::u16string(kGroup));
    for (int i = 0; i < m_settings.nArrays; ++i) {
        access->m_listAccess.push_back(Utf8ToUtf16(Mac(i)));
    }
    m_pCore->SendMessage(CDirectoryMessage::SetGroupAccess(true, std::move(access)));
    auto user = std::make_unique<CUserData>(Utf8ToUtf16(kUserName), Utf8ToUtf16(kUserPassword));
    user->m_listGroups.emplace_back(kGroup);
    m_pCore->SendMessage(CDirectoryMessage::AddUser(true, std::move(user)));
}

// As a login leaves every array: authorized at the address it was found at.
void CFleetRun::FillAuthorizedServers() {
    m_pCore->ChangeServers([this](CServerTable& servers) {
        for (int i = 0; i < m_settings.nArrays; ++i) {
            auto record = std::make_unique<CServerData>();
            record->SetMAC(Mac(i));
            record->SetIPAddr(Address(i));
            record->SetSystemName("array-" + std::to_string(i));
            record->SetVendor(kVendor);
            record->SetProduct(kProduct);
            record->SetType("SAN");
            record->m_bKnown = true;
            record->m_bOnline = 1;
            record->m_bAuthorized = 1;
            record->SetAuthorizedIP(Address(i));
            record->SetLoginCredentials(u"admin", Utf8ToUtf16(kAdminPassword));
            servers.Add(Utf8ToUtf16(Mac(i)), std::move(record));
        }
    });
}

std::size_t CFleetRun::Authorized() const {
    return m_pCore->Read([](const CTablesView& tables) {
        std::size_t n = 0;
        tables.servers.ForEach([&n](const std::u16string&, const CServerData& record) {
            n += record.m_bAuthorized != 0 ? 1 : 0;
        });
        return n;
    });
}

std::size_t CFleetRun::Listed() const {
    CHttpRequest request;
    request.strHost = "127.0.0.1";
    request.nPort = m_service.Port();
    request.strPath = "/Query";
    request.listHeaders = {"Authorization: Basic " +
                           Base64Encode(std::string(kUserName) + ":" + kUserPassword)};
    request.strBody = "x\n";
    request.nBodyCapacity = kQueryCapacity;
    CHttpClient client;
    const CHttpResponse response = client.Post(request);
    return response.nError == 0 ? Occurrences(response.strBody, "<StorageServer ") : 0;
}

// The memory, and the processor time so far: on a shared machine the time a run waits for a
// processor swamps the wall clock, its own work does not.
void CFleetRun::Memory(CFigures& figures) const {
    figures.emplace_back("rss_mb", StatusMegabytes("VmRSS"));
    figures.emplace_back("hwm_mb", StatusMegabytes("VmHWM"));
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * kMsPerSecond +
               static_cast<double>(t.tv_usec) / kMsPerSecond;
    };
    figures.emplace_back("cpu_ms", ms(usage.ru_utime) + ms(usage.ru_stime));
}

bool CFleetRun::WaitUntilListed(Clock::time_point t0, CFigures& figures) {
    const auto n = static_cast<std::size_t>(m_settings.nArrays);
    bool bPassEnded = std::ranges::any_of(
        figures, [](const auto& figure) { return figure.first == "pass_ended_ms"; });
    bool bSettled = m_settings.eSeal == EFleetSeal::None;
    while (Clock::now() - t0 < m_settings.limit) {
        if (!bPassEnded && m_pChurn && m_pChurn->PassesEnded() > 0) {
            bPassEnded = true;
            figures.emplace_back("pass_ended_ms", MsSince(t0));
            figures.emplace_back("pass_length_ms",
                                 static_cast<double>(m_pChurn->PassTime().count()));
        }
        if (!bSettled && !m_pCore->Seal().IsVerifying()) {
            bSettled = true;
            const CSealStatus status = m_pCore->Seal().Status();
            figures.emplace_back("verified_ms", MsSince(t0));
            figures.emplace_back("verified", static_cast<double>(status.nVerified));
            figures.emplace_back("dropped", static_cast<double>(status.Dropped()));
        }
        if (Authorized() == n) {
            const std::size_t listed = Listed();
            if (listed == n) {
                figures.emplace_back("listed_ms", MsSince(t0));
                figures.emplace_back("listed", static_cast<double>(listed));
                return true;
            }
        }
        std::this_thread::sleep_for(kSample);
    }
    figures.emplace_back("listed", static_cast<double>(Listed()));
    return false;
}

bool CFleetRun::LoadKey(CSecretBytes& key) const {
    if (m_settings.eSeal != EFleetSeal::KeyFile) {
        return true;
    }
    const std::filesystem::path forbidden[] = {m_settings.folder};
    CSealKeyLoad load = LoadSealKeyFile(m_settings.keyFile, forbidden);
    if (!load.strError.empty()) {
        std::fprintf(stderr, "key file: %s\n", load.strError.c_str());
        return false;
    }
    key = std::move(load.key);
    return true;
}

bool CFleetRun::Make(CFigures& figures) {
    CSecretBytes key;
    if (!LoadKey(key)) {
        return false;
    }
    if (!Start(std::move(key), false)) {
        return false;
    }
    auto t0 = Clock::now();
    FillDirectory();
    FillAuthorizedServers();
    figures.emplace_back("fill_ms", MsSince(t0));
    if (m_settings.eSeal == EFleetSeal::Passphrase) {
        t0 = Clock::now();
        const CSealAnswer answer = m_pCore->Seal().SealWith(kPassphrase);
        figures.emplace_back("seal_with_ms", MsSince(t0));
        if (!answer.bDone) {
            std::fprintf(stderr, "seal: %s\n", answer.strText.c_str());
            return false;
        }
    }
    Stop(figures);
    if (m_settings.eSeal == EFleetSeal::None) {
        return true;
    }
    std::error_code ec;
    const auto bytes =
        std::filesystem::file_size(m_settings.folder / CAuthorizationSeal::kFileName, ec);
    figures.emplace_back("sealed_kb", static_cast<double>(bytes) / kKilobytesPerMegabyte);
    return !ec;
}

bool CFleetRun::Restart(CFigures& figures) {
    const auto t0 = Clock::now();
    CSecretBytes key;
    if (!LoadKey(key)) {
        return false;
    }
    if (!Start(std::move(key), true)) {
        return false;
    }
    figures.emplace_back("started_ms", MsSince(t0));
    auto from = t0;
    if (m_settings.eSeal == EFleetSeal::Passphrase) {
        // As soon as the operator can answer: the passphrase arrives right after start-up.
        from = Clock::now();
        const CSealAnswer answer = m_pCore->Seal().Unseal(kPassphrase);
        figures.emplace_back("unseal_ms", MsSince(from));
        if (!answer.bDone) {
            std::fprintf(stderr, "unseal: %s\n", answer.strText.c_str());
            return false;
        }
    }
    const bool bListed = WaitUntilListed(from, figures);
    Memory(figures);
    figures.emplace_back("seal_lines", static_cast<double>(m_nSealLines));
    Stop(figures);
    return bListed;
}

bool CFleetRun::LoginAll(CFigures& figures) {
    const auto t0 = Clock::now();
    if (!Start(CSecretBytes(), true)) {
        return false;
    }
    figures.emplace_back("started_ms", MsSince(t0));
    while (m_pChurn->PassesEnded() == 0 && Clock::now() - t0 < m_settings.limit) {
        std::this_thread::sleep_for(kSample);
    }
    figures.emplace_back("pass_ended_ms", MsSince(t0));
    figures.emplace_back("pass_length_ms", static_cast<double>(m_pChurn->PassTime().count()));
    // The arrays "login --all" reaches: every known one at its own address.
    const std::vector<std::u16string> macs = m_pCore->Read([](const CTablesView& tables) {
        std::vector<std::u16string> list;
        tables.servers.ForEach(
            [&list](const std::u16string& mac, const CServerData&) { list.push_back(mac); });
        return list;
    });
    std::vector<CLoginTarget> targets;
    for (const std::u16string& mac : macs) {
        const std::optional<CLoginCandidate> array = m_pCore->LoginCandidate(mac);
        if (array && array->FleetMayReach()) {
            targets.push_back({mac, array->strIP, array->bKnown, false});
        }
    }
    figures.emplace_back("chosen_ms", MsSince(t0));
    figures.emplace_back("targets", static_cast<double>(targets.size()));
    CLoginOptions options;
    options.nPort = m_settings.nLoginPort;
    auto client = m_pCore->MakeServerTableWorker<CLoginClient>(m_pCore->LoginPool(), options);
    auto failed = std::make_shared<std::atomic<std::size_t>>(0);
    // Each login is recorded as orvanectl's are, as the seal records its own.
    client->Login(std::move(targets), u"admin", Utf8ToUtf16(kAdminPassword),
                  [failed, audit = LoginAuditor(m_pCore->AuditTrail(), "orvanectl")](
                      const CLoginOutcome& outcome) {
                      *failed += outcome.eResult == ELoginResult::Succeeded ? 0 : 1;
                      audit(outcome);
                  });
    while (client->RunningLogins() > 0 && Clock::now() - t0 < m_settings.limit) {
        std::this_thread::sleep_for(kSample);
    }
    figures.emplace_back("logged_in_ms", MsSince(t0));
    figures.emplace_back("failed", static_cast<double>(failed->load()));
    const bool bListed = WaitUntilListed(t0, figures);
    Memory(figures);
    client.reset();
    Stop(figures);
    return bListed;
}
