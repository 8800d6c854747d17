// OrvaneSrv: the directory, the credential service beside it, and the front end that runs them:
// the console window when there is a display, the headless runner when there is none or when
// the command line asks for it.
#include "app/CCommandLine.h"
#include "app/CHeadlessRunner.h"
#include "console/CConsoleFrontEnd.h"
#include "core/COrvaneSrvApp.h"
#include "core/audit/CAuditTrail.h"
#include "core/ldap/CLdapUsers.h"
#include "core/seal/SealKeyFile.h"
#include "core/settings/CProgramSettings.h"
#include "platform/io/ProcessLimits.h"
#include "platform/registry/CRegistryHive.h"
#include "service/CCredentialService.h"
#include "service/CServiceLog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The name of the seal key among the service manager's credentials.
constexpr const char* kSealKeyCredential = "orvanesrv-seal-key";

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// Before anything holds a password or a socket: no core dump of the process, and the
// descriptors the service's cap on connections is measured against.
void SetProcessLimits(CServiceOptions& options) {
    if (!ForbidCoreDumps()) {
        std::fputs("OrvaneSrv: cannot forbid core dumps of the process\n", stderr);
    }
    if (const uint64_t openFiles = RaiseOpenFileLimit(); openFiles > 0) {
        options.nMaxConnections = CServiceOptions::MaxConnectionsFor(openFiles);
    }
}

// The key that seals remembered authorizations: --seal-key FILE, else the credential the service
// manager passes (LoadCredential=); empty when neither is there. A key file that is refused ends
// the start with its reason: running without it would silently forget every authorization.
bool LoadSealKey(const CCommandLine& commandLine, CSecretBytes& key) {
    std::filesystem::path file = commandLine.SealKeyFile();
    if (file.empty()) {
        const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
        std::error_code ec;
        if (credentials == nullptr || credentials[0] != '/' ||
            !std::filesystem::exists(std::filesystem::path(credentials) / kSealKeyCredential, ec)) {
            return true;
        }
        file = std::filesystem::path(credentials) / kSealKeyCredential;
    }
    std::error_code ec;
    const std::filesystem::path forbidden[] = {CRegistryHive::DefaultPath().parent_path(),
                                               std::filesystem::current_path(ec)};
    CSealKeyLoad load = LoadSealKeyFile(file, forbidden);
    if (!load.strError.empty()) {
        std::fprintf(stderr, "OrvaneSrv: %s\n", load.strError.c_str());
        return false;
    }
    key = std::move(load.key);
    return true;
}

// The settings file, read whole before anything runs: a mistake in it ends the start with the
// file, the line and the reason, on standard error and (with a window) in a box.
std::optional<SSettingsLoad> LoadSettings(CCommandLine& commandLine) {
    const std::filesystem::path file = CProgramSettings::DefaultPath();
    SSettingsLoad settings = CProgramSettings::Load(file);
    if (settings.Ok()) {
        return settings;
    }
    const std::string what = "the settings file " + file.string() + " is refused";
    std::fprintf(stderr, "OrvaneSrv: %s: %s\n", what.c_str(), settings.error->Text().c_str());
    if (!commandLine.Headless() && HasDisplay()) {
        std::vector<char*>& toolkitArgs = commandLine.ToolkitArgs();
        CConsoleFrontEnd::RefuseStart(static_cast<int>(toolkitArgs.size() - 1), toolkitArgs.data(),
                                      "The " + what + ":\n\n" + settings.error->Text());
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    CCommandLine commandLine({argv, static_cast<std::size_t>(argc)});
    if (const int status = commandLine.Prepare(); status >= 0) {
        return status;
    }
    const std::optional<SSettingsLoad> settings = LoadSettings(commandLine);
    if (!settings) {
        return CCommandLine::kBadUsageStatus;
    }
    COrvaneSrvApp::CSealSetup seal;
    if (!LoadSealKey(commandLine, seal.key)) {
        return CCommandLine::kBadUsageStatus;
    }
    seal.log = [](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    };
    CCredentialService service;
    CServiceOptions options;
    SetProcessLimits(options);
    options.logFile = CServiceLog::DefaultFilePath();
    // The TLS port's certificate is kept beside the store.
    options.certificateFolder = CRegistryHive::DefaultPath().parent_path();
    options.bHttpsOnlyQuery = commandLine.HttpsOnlyQuery();
    const COrvaneSrvApp::CServiceHooks hooks{
        [&service, &options](COrvaneSrvCore& core) {
            service.StartCredentialServer(core, options);
        },
        [&service](COrvaneSrvCore&) { service.StopCredentialServer(); },
    };
    COrvaneSrvApp app(hooks);
    app.SetSealSetup(std::move(seal));
    CAuditTrail::COptions auditOptions;
    auditOptions.file = CAuditTrail::DefaultFilePath();
    auditOptions.bJournal = CAuditTrail::UnderServiceManager();
    app.SetAuditTrail(std::make_shared<CAuditTrail>(std::move(auditOptions)));
    if (settings->ldap) {
        app.SetLdapUsers(std::make_shared<CLdapUsers>(*settings->ldap));
    }
    if (commandLine.Headless()) {
        return CHeadlessRunner(app).Run();
    }
    if (!HasDisplay()) {
        std::fputs("OrvaneSrv: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); running "
                   "without a window\n",
                   stderr);
        return CHeadlessRunner(app).Run();
    }
    std::vector<char*>& toolkitArgs = commandLine.ToolkitArgs();
    return CConsoleFrontEnd(app).Run(static_cast<int>(toolkitArgs.size() - 1), toolkitArgs.data());
}
