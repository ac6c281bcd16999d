#include "app/unix/host_loop.h"

#include <poll.h>

namespace ostrakan {

HostLoop::HostLoop(Core& core, BurstEvents& events, TimePoint start)
    : HostLoopBase(core, start), events_(events) {}

void HostLoop::runOnce() {
    pollfd event{events_.burstEventFd(), POLLIN, 0};
    ::poll(&event, event.fd >= 0 ? 1 : 0, waitTimeout(SteadyClock::now()));
    // The burst first: a loss posted after it must not overtake it.
    const bool burstEnded = events_.takeBurstEnd();
    handle(SteadyClock::now(), burstEnded, events_.takeLineLost());
}

}  // namespace ostrakan
