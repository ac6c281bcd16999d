// What a host loop does the same on every platform: one thread that runs the
// reply classifier when the serial reader reports that a burst has ended, the
// port's loss when the device went away, and the 54 ms tick on the monotonic
// clock, never two at once. The platform's HostLoop (app/unix/host_loop.h,
// app/windows/host_loop.h) adds only its wait for the next of them.
#pragma once

#include "app/core.h"
#include "app/tick_schedule.h"

namespace ostrakan {

class HostLoopBase {
public:
    HostLoopBase(Core& core, TimePoint start);
    virtual ~HostLoopBase() = default;

    // One pass at `now`: the classifier first if a burst ended (its timer message
    // came before the tick's), then the loss of the line if the back end saw one
    // (the core closes the port), then the tick if it is due. The core releases a
    // classified burst to the reader after the tick that follows it.
    void handle(TimePoint now, bool burstEnded, bool lineLost = false);

    // Waits for the next due tick or report of the reader, then handles it.
    virtual void runOnce() = 0;

    // Runs passes until done(context) is true after one of them.
    using Done = bool (*)(void* context);
    void runUntil(Done done, void* context) {
        while (!done(context)) runOnce();
    }

    unsigned long ticks() const { return ticks_; }
    unsigned long classified() const { return classified_; }
    unsigned long losses() const { return losses_; }

protected:
    // How long the wait may last before the next tick is due, in milliseconds.
    int waitTimeout(TimePoint now) const { return schedule_.pollTimeout(now); }
    // When the next tick is due (a loop that replays missed ticks needs the instant).
    TimePoint nextTick() const { return schedule_.next(); }

private:
    Core& core_;
    TickSchedule schedule_;
    unsigned long ticks_ = 0;
    unsigned long classified_ = 0;
    unsigned long losses_ = 0;
};

}  // namespace ostrakan
