// The limits the program sets on itself, each tried in a child process so that this one keeps
// its own.
#include "platform/io/ProcessLimits.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs check in a child process and answers its exit status (0: every condition held).
int InChild(const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(check());
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcessLimits, NoCoreDumpAndNoReadingOfTheProcess) {
    EXPECT_EQ(InChild([] {
                  rlimit core{};
                  if (!ForbidCoreDumps() || ::getrlimit(RLIMIT_CORE, &core) != 0) {
                      return 1;
                  }
                  return (core.rlim_cur == 0 ? 0 : 2) | (core.rlim_max == 0 ? 0 : 4) |
                         (::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 8);
              }),
              0);
}

TEST(ProcessLimits, TheOpenFileLimitIsRaisedToTheHardOne) {
    EXPECT_EQ(InChild([] {
                  rlimit limit{};
                  ::getrlimit(RLIMIT_NOFILE, &limit);
                  constexpr rlim_t kLow = 64;
                  if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max <= kLow) {
                      return 0; // nothing to tell from a raise here
                  }
                  limit.rlim_cur = kLow;
                  ::setrlimit(RLIMIT_NOFILE, &limit);
                  const uint64_t raised = RaiseOpenFileLimit();
                  rlimit after{};
                  ::getrlimit(RLIMIT_NOFILE, &after);
                  return (raised == limit.rlim_max ? 0 : 1) |
                         (after.rlim_cur == limit.rlim_max ? 0 : 2);
              }),
              0);
}

} // namespace
