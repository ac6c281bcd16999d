// The system's part of the trace lines on Windows (serial/trace_platform.h):
// the clock from GetSystemTime/GetLocalTime, the write with the C library's
// _write (which keeps a descriptor opened for appending at its end).
#include <windows.h>

#include <io.h>

#include "serial/trace_platform.h"

namespace ostrakan {

namespace {

TraceDateTime fromSystemTime(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

TraceDateTime traceUtcNow() {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    return fromSystemTime(utc);
}

TraceDateTime traceLocalNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return fromSystemTime(local);
}

void traceWriteBytes(int fd, const char* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const int w = _write(fd, bytes + done, static_cast<unsigned>(count - done));
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
}

}  // namespace ostrakan
