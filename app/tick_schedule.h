// The 54 ms tick of a host loop as plain arithmetic on time points, for a window
// system without timers of its own (the command-line tool, the tests).
#pragma once

#include "timing/clock.h"

namespace ostrakan {

// A periodic timer like the window system's: a late tick is delivered once, not
// once per missed period, and the next one is a full period after it.
class TickSchedule {
public:
    TickSchedule(Milliseconds period, TimePoint start) : period_(period), next_(start + period) {}

    bool due(TimePoint now) const { return now >= next_; }
    // Takes the due tick and schedules the next.
    void advance(TimePoint now) {
        next_ += period_;
        if (next_ <= now) next_ = now + period_;
    }
    int pollTimeout(TimePoint now) const { return millisecondsUntil(next_, now); }
    TimePoint next() const { return next_; }

private:
    Milliseconds period_;
    TimePoint next_;
};

}  // namespace ostrakan
