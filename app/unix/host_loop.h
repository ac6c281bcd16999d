// The window's thread on POSIX: one thread that runs the 54 ms tick on the
// monotonic clock and the reply classifier when the serial reader reports that a
// burst has ended (or the port's loss when the device went away), never two at
// once. It waits in poll() between them.
#pragma once

#include "app/core.h"
#include "serial/unix/posix_line.h"
#include "app/tick_schedule.h"

namespace ostrakan {

class HostLoop {
public:
    HostLoop(Core& core, BurstEvents& events, TimePoint start = SteadyClock::now());

    // One pass at `now`: the classifier first if a burst ended (its timer message
    // came before the tick's), then the loss of the line if the back end saw one
    // (the core closes the port), then the tick if it is due. The core releases a
    // classified burst to the reader after the tick that follows it.
    void handle(TimePoint now, bool burstEnded, bool lineLost = false);

    // Waits for the next due tick or burst end, then handles it.
    void runOnce();

    // Runs passes until done(context) is true after one of them.
    using Done = bool (*)(void* context);
    void runUntil(Done done, void* context);

    unsigned long ticks() const { return ticks_; }
    unsigned long classified() const { return classified_; }
    unsigned long losses() const { return losses_; }

private:
    Core& core_;
    BurstEvents& events_;
    TickSchedule schedule_;
    unsigned long ticks_ = 0;
    unsigned long classified_ = 0;
    unsigned long losses_ = 0;
};

}  // namespace ostrakan
