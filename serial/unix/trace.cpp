#include "serial/unix/trace.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace ostrakan {

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
    void put(const char* text) {
        while (*text) put(*text++);
    }
    void flush() {
        std::size_t done = 0;
        while (done < used) {
            const ssize_t w = ::write(fd, buffer + done, used - done);
            if (w < 0 && errno == EINTR) continue;
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
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    char head[32];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    LineWriter out{fd, {}};
    out.put(head);
    out.put(direction);
    for (std::size_t i = 0; i < count; ++i) {
        out.put(' ');
        out.put(kHex[bytes[i] >> 4]);
        out.put(kHex[bytes[i] & 0x0F]);
    }
    out.put(" |");
    for (std::size_t i = 0; i < count; ++i)
        out.put(bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.');
    out.put("|\n");
    out.flush();
}

}  // namespace ostrakan
