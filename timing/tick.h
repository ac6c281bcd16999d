// The time base shared by the core and the serial back ends: the 54 ms tick
// counter and the deadline test every procedure uses.
#pragma once

#include <cstdint>

namespace ostrakan {

using Tick = std::uint32_t;

constexpr unsigned kTickMilliseconds = 54;
constexpr unsigned kGapMilliseconds = 200;
constexpr Tick kReplyWait = 60;  // after a request that awaits a reply
constexpr Tick kHoldWait = 20;   // after a write, or the modem escape

// Wraps modulo 2^32.
constexpr Tick deadlineAfter(Tick now, Tick n) { return now + n; }

// Passed once (deadline - now), read as a signed 32-bit number, is negative: a
// deadline of now + N set during a tick is first seen passed N + 1 ticks later,
// also across the counter's wrap.
constexpr bool deadlinePassed(Tick deadline, Tick now) {
    return ((deadline - now) & 0x80000000u) != 0;
}

}  // namespace ostrakan
