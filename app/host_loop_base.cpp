#include "app/host_loop_base.h"

#include "timing/tick.h"

namespace ostrakan {

HostLoopBase::HostLoopBase(Core& core, TimePoint start)
    : core_(core), schedule_(Milliseconds(kTickMilliseconds), start) {}

void HostLoopBase::handle(TimePoint now, bool burstEnded, bool lineLost) {
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

}  // namespace ostrakan
