// The 200 ms quiet-line timer of the POSIX reader, and the 54 ms tick schedule of
// the host loop, as plain arithmetic on time points: the threads feed them the
// monotonic clock, the tests feed them made-up instants.
#pragma once

#include <chrono>

namespace ostrakan {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using Milliseconds = std::chrono::milliseconds;

// Milliseconds from `now` until `when`, rounded up (poll() must not wake early
// and spin), 0 once it is due.
int millisecondsUntil(TimePoint when, TimePoint now);

// One-shot timer restarted by every received chunk.
class QuietTimer {
public:
    explicit QuietTimer(Milliseconds period) : period_(period) {}

    void restart(TimePoint now) {
        expiry_ = now + period_;
        running_ = true;
    }
    void stop() { running_ = false; }
    bool running() const { return running_; }
    // True once, when the line has been quiet for the whole period; stops the timer.
    bool expire(TimePoint now) {
        if (!running_ || now < expiry_) return false;
        running_ = false;
        return true;
    }
    // poll() timeout: -1 (no limit) while stopped.
    int pollTimeout(TimePoint now) const { return running_ ? millisecondsUntil(expiry_, now) : -1; }

private:
    Milliseconds period_;
    TimePoint expiry_{};
    bool running_ = false;
};

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
