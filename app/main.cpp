// OrvaneSrv: the directory, the credential service beside it, and the front end that runs them:
// the console window when there is a display, the headless runner when there is none or when
// the command line asks for it.
#include "app/CCommandLine.h"
#include "app/CHeadlessRunner.h"
#include "console/CConsoleFrontEnd.h"
#include "core/COrvaneSrvApp.h"
#include "core/audit/CAuditTrail.h"
#include "platform/io/ProcessLimits.h"
#include "platform/registry/CRegistryHive.h"
#include "service/CCredentialService.h"
#include "service/CServiceLog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char** argv) {
    CCommandLine commandLine({argv, static_cast<std::size_t>(argc)});
    if (const int status = commandLine.Prepare(); status >= 0) {
        return status;
    }
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
    CAuditTrail::COptions auditOptions;
    auditOptions.file = CAuditTrail::DefaultFilePath();
    auditOptions.bJournal = CAuditTrail::UnderServiceManager();
    app.SetAuditTrail(std::make_shared<CAuditTrail>(std::move(auditOptions)));
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
