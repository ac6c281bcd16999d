// The window's thread on POSIX: the passes of app/host_loop_base.h, waiting in
// poll() between them for the next due tick or the serial reader's report.
#pragma once

#include "app/host_loop_base.h"
#include "serial/unix/posix_line.h"

namespace ostrakan {

class HostLoop : public HostLoopBase {
public:
    HostLoop(Core& core, BurstEvents& events, TimePoint start = SteadyClock::now());

    void runOnce() override;

private:
    BurstEvents& events_;
};

}  // namespace ostrakan
