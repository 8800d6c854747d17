// OrvaneSrv: the directory, the credential service beside it, and the front end that runs them.
#include "app/CHeadlessRunner.h"
#include "core/COrvaneSrvApp.h"
#include "service/CCredentialService.h"

int main() {
    CCredentialService service;
    COrvaneSrvApp app({
        [&service](COrvaneSrvCore& core) { service.StartCredentialServer(core); },
        [&service](COrvaneSrvCore&) { service.StopCredentialServer(); },
    });
    return CHeadlessRunner(app).Run();
}
