// The monotonic clock the back ends' timers run on, and the rounding every poll
// or wait with a time limit needs. Tests feed made-up time points instead.
#pragma once

#include <chrono>

namespace ostrakan {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using Milliseconds = std::chrono::milliseconds;

// Milliseconds from `now` until `when`, rounded up (a wait must not end early
// and spin), 0 once it is due.
inline int millisecondsUntil(TimePoint when, TimePoint now) {
    if (when <= now) return 0;
    const auto wait = std::chrono::ceil<Milliseconds>(when - now).count();
    return wait > 1000000 ? 1000000 : static_cast<int>(wait);
}

}  // namespace ostrakan
