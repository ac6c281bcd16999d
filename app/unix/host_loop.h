// The window's thread on POSIX: the passes of app/host_pass.h, waiting in poll()
// between them for the next due tick or the serial reader's report.
#pragma once

#include "app/host_pass.h"
#include "serial/unix/posix_line.h"

namespace ostrakan {

class HostLoop : public HostPass {
public:
    HostLoop(Core& core, BurstEvents& events, TimePoint start = SteadyClock::now());

    // Waits for the next due tick or burst end, then handles it.
    void runOnce();

    // Runs passes until done(context) is true after one of them.
    using Done = bool (*)(void* context);
    void runUntil(Done done, void* context) {
        while (!done(context)) runOnce();
    }

private:
    BurstEvents& events_;
};

}  // namespace ostrakan
