#include "app/unix/host_loop.h"

#include <poll.h>

#include "app/tick.h"

namespace ostrakan {

HostLoop::HostLoop(Core& core, BurstEvents& events, TimePoint start)
    : core_(core), events_(events), schedule_(Milliseconds(kTickMilliseconds), start) {}

void HostLoop::handle(TimePoint now, bool burstEnded, bool lineLost) {
    if (burstEnded) {
        core_.onGapTimer();
        ++classified_;
    }
    if (lineLost) {
        core_.onLineLost();
        ++losses_;
    }
    if (schedule_.due(now)) {
        core_.tick();
        ++ticks_;
        schedule_.advance(now);
    }
}

void HostLoop::runOnce() {
    pollfd event{events_.burstEventFd(), POLLIN, 0};
    const int timeout = schedule_.pollTimeout(SteadyClock::now());
    ::poll(&event, event.fd >= 0 ? 1 : 0, timeout);
    // The burst first: a loss posted after it must not overtake it.
    const bool burstEnded = events_.takeBurstEnd();
    handle(SteadyClock::now(), burstEnded, events_.takeLineLost());
}

void HostLoop::runUntil(Done done, void* context) {
    while (!done(context)) runOnce();
}

}  // namespace ostrakan
