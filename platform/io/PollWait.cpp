#include "platform/io/PollWait.h"

#include <cerrno>
#include <climits>
#include <poll.h>

int MillisecondsUntil(PollClock::time_point deadline) {
    const auto left = deadline - PollClock::now();
    if (left <= PollClock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

EPollResult WaitForEvents(int fd, short events, PollClock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready > 0) {
            return EPollResult::Ready;
        }
        if (ready == 0) {
            return EPollResult::Timeout;
        }
        if (errno != EINTR) {
            return EPollResult::Failed;
        }
    }
}

EPollResult WaitForEvents(int fd, short events, std::chrono::milliseconds wait) {
    return WaitForEvents(fd, events, PollClock::now() + wait);
}
