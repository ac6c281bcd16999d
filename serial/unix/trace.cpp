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

namespace {

// Collects a line in a fixed buffer and writes it out whenever it fills up, so a
// burst of any length is one line.
struct LineWriter {
    int fd;
    char buffer[1024];
    std::size_t used = 0;

    void put(char c) {
        if (used == sizeof buffer) flush();
        buffer[used++] = c;
    }
    void flush() {
        std::size_t done = 0;
        while (done < used) {
            const ssize_t w = ::write(fd, buffer + done, used - done);
            if (w <= 0) break;
            done += static_cast<std::size_t>(w);
        }
        used = 0;
    }
};

}  // namespace

void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    if (fd < 0) return;
    char head[64];
    const std::size_t n = formatTrace(head, sizeof head, direction, bytes, 0);  // time, direction, "||"
    LineWriter out{fd, {}};
    for (std::size_t i = 0; i + 4 < n; ++i) out.put(head[i]);  // without " ||\n"
    for (std::size_t i = 0; i < count; ++i) {
        out.put(' ');
        out.put(kHex[bytes[i] >> 4]);
        out.put(kHex[bytes[i] & 0x0F]);
    }
    out.put(' ');
    out.put('|');
    for (std::size_t i = 0; i < count; ++i)
        out.put(bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.');
    out.put('|');
    out.put('\n');
    out.flush();
}

}  // namespace ostrakan
