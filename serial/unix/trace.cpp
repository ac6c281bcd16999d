// The system's part of the trace lines on POSIX (serial/trace_platform.h).
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "serial/trace_platform.h"

namespace ostrakan {

namespace {

TraceDateTime fromTm(const std::tm& tm, int millisecond) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millisecond};
}

}  // namespace

TraceDateTime traceUtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    return fromTm(utc, 0);
}

TraceDateTime traceLocalNow() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    const std::time_t seconds = now.tv_sec;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return fromTm(local, static_cast<int>(now.tv_usec / 1000));
}

void traceWriteBytes(int fd, const char* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t w = ::write(fd, bytes + done, count - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
}

}  // namespace ostrakan
