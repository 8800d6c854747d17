// OrvaneSrv: the directory, the credential service beside it, and the front end that runs them.
#include "app/CHeadlessRunner.h"
#include "core/COrvaneSrvApp.h"
#include "service/CCredentialService.h"

int main() {
    CCredentialService service;
    CServiceOptions options;
    options.logFile = CServiceLog::DefaultFilePath();
    COrvaneSrvApp app({
        [&service, &options](COrvaneSrvCore& core) {
            service.StartCredentialServer(core, options);
        },
        [&service](COrvaneSrvCore&) { service.StopCredentialServer(); },
    });
    return CHeadlessRunner(app).Run();
}
