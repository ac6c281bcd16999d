#include "serial/trace.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
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

// The session traces: a slot's fd is set (-1 while free) by beginSessionTrace
// after its start time, and read by writeTrace on any thread.
struct Session {
    std::atomic<int> fd{-1};
    timespec start{};
};
Session gSessions[kMaxSessionTraces];

long long nanosSince(const timespec& start) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
}

}  // namespace

bool beginSessionTrace(int fd, const char* recorder) {
    if (fd < 0) return false;
    for (Session& s : gSessions) {
        int expected = -1;
        if (s.fd.load() != -1) continue;
        ::clock_gettime(CLOCK_MONOTONIC, &s.start);
        if (!s.fd.compare_exchange_strong(expected, fd)) continue;
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        ::gmtime_r(&now, &utc);
        char head[200];
        std::snprintf(head, sizeof head, "# %s trace, 9600 8N1, started %04d-%02d-%02dT%02d:%02d:%02dZ\n", recorder,
                      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        LineWriter out{fd, {}};
        out.put(head);
        out.flush();
        return true;
    }
    return false;
}

void endSessionTrace(int fd) {
    for (Session& s : gSessions) {
        int expected = fd;
        s.fd.compare_exchange_strong(expected, -1);
    }
}

void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    if (fd < 0) return;
    char head[32];
    const Session* session = nullptr;
    for (const Session& s : gSessions)
        if (s.fd.load() == fd) session = &s;
    if (session) {
        const long long ms = nanosSince(session->start) / 1000000;
        std::snprintf(head, sizeof head, "+%lld.%03lld ", ms / 1000, ms % 1000);
    } else {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        std::tm local{};
        const std::time_t seconds = now.tv_sec;
        ::localtime_r(&seconds, &local);
        std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(now.tv_usec / 1000));
    }
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
