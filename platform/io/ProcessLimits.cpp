#include "platform/io/ProcessLimits.h"

#include <fstream>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

// The most descriptors the kernel lets one process have, or 0.
uint64_t KernelOpenFileCeiling() {
    uint64_t ceiling = 0;
    std::ifstream("/proc/sys/fs/nr_open") >> ceiling;
    return ceiling;
}

} // namespace

uint64_t RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    rlim_t wanted = limit.rlim_max;
    if (wanted == RLIM_INFINITY) {
        // An unlimited soft limit is refused; the ceiling is the most it can be.
        const uint64_t ceiling = KernelOpenFileCeiling();
        wanted = ceiling > 0 ? static_cast<rlim_t>(ceiling) : limit.rlim_cur;
    }
    if (wanted > limit.rlim_cur) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit.rlim_cur = wanted;
        }
    }
    return static_cast<uint64_t>(limit.rlim_cur);
}

bool ForbidCoreDumps() {
    const rlimit none{0, 0};
    const bool bLimited = ::setrlimit(RLIMIT_CORE, &none) == 0;
    const bool bUndumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return bLimited && bUndumpable;
}
