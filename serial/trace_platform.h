// What serial/trace.cpp needs from the system, defined once per platform
// (serial/unix/trace.cpp, serial/windows/trace.cpp): the wall-clock time and the
// write to a descriptor. Everything else about a trace line is portable.
#pragma once

#include <cstddef>

namespace ostrakan {

// A civil date and time, in UTC or local time as the function that fills it says.
struct TraceDateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Now in UTC, for a session trace's header.
TraceDateTime traceUtcNow();

// Now in local time, for the stamp of a plain trace line.
TraceDateTime traceLocalNow();

// Writes count bytes to fd, going on after a short write; gives up at the first
// error (a trace never stops the exchange it records).
void traceWriteBytes(int fd, const char* bytes, std::size_t count);

}  // namespace ostrakan
