#include "app/host_pass.h"

#include "app/tick.h"

namespace ostrakan {

HostPass::HostPass(Core& core, TimePoint start) : core_(core), schedule_(Milliseconds(kTickMilliseconds), start) {}

void HostPass::handle(TimePoint now, bool burstEnded, bool lineLost) {
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
