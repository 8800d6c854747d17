#include "core/COrvaneSrvApp.h"
#include "service/CredentialServer.h"

int main() {
    COrvaneSrvApp app({
        [](COrvaneSrvCore& core) { StartCredentialServer(core); },
        [](COrvaneSrvCore&) { StopCredentialServer(); },
    });
    return app.RunHeadless();
}
