#include "serial/unix/trace.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace ostrakan {

std::size_t formatTrace(char* out, std::size_t room, const char* direction,
                        const std::uint8_t* bytes, std::size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    if (room < 64) return 0;
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    int head = std::snprintf(out, room, "%02d:%02d:%02d.%03d %s", local.tm_hour, local.tm_min,
                             local.tm_sec, static_cast<int>(now.tv_usec / 1000), direction);
    if (head < 0) return 0;
    std::size_t n = static_cast<std::size_t>(head);
    // Keep room for " |", the text, "|\n".
    for (std::size_t i = 0; i < count && n + 3 + (count + 3) < room; ++i) {
        out[n++] = ' ';
        out[n++] = kHex[bytes[i] >> 4];
        out[n++] = kHex[bytes[i] & 0x0F];
    }
    out[n++] = ' ';
    out[n++] = '|';
    for (std::size_t i = 0; i < count && n + 2 < room; ++i)
        out[n++] = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    out[n++] = '|';
    out[n++] = '\n';
    return n;
}

void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count) {
    if (fd < 0) return;
    char line[kTraceLineRoom];
    const std::size_t n = formatTrace(line, sizeof line, direction, bytes, count);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, line + done, n - done);
        if (w <= 0) return;
        done += static_cast<std::size_t>(w);
    }
}

}  // namespace ostrakan
