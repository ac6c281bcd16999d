// The 200 ms quiet-line timer of a serial reader: one-shot, restarted by every
// received chunk. Plain arithmetic on time points: the reader feeds it the
// monotonic clock, the tests feed it made-up instants.
#pragma once

#include "timing/clock.h"

namespace ostrakan {

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
    // Wait limit: -1 (no limit) while stopped.
    int pollTimeout(TimePoint now) const { return running_ ? millisecondsUntil(expiry_, now) : -1; }

private:
    Milliseconds period_;
    TimePoint expiry_{};
    bool running_ = false;
};

}  // namespace ostrakan
