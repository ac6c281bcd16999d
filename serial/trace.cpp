// The trace lines of serial/trace.h, the same on every platform: the system's
// clock and the write itself come from serial/trace_platform.h.
#include "serial/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "serial/trace_platform.h"

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
        traceWriteBytes(fd, buffer, used);
        used = 0;
    }
};

// The session traces: a slot's fd is set (-1 while free) by beginSessionTrace
// after its start time, and read by writeTrace on any thread.
struct Session {
    std::atomic<int> fd{-1};
    std::chrono::steady_clock::time_point start{};
};
Session gSessions[kMaxSessionTraces];

}  // namespace

bool beginSessionTrace(int fd, const char* recorder) {
    if (fd < 0) return false;
    for (Session& s : gSessions) {
        int expected = -1;
        if (s.fd.load() != -1) continue;
        s.start = std::chrono::steady_clock::now();
        if (!s.fd.compare_exchange_strong(expected, fd)) continue;
        const TraceDateTime utc = traceUtcNow();
        char head[200];
        std::snprintf(head, sizeof head, "# %s trace, 9600 8N1, started %04d-%02d-%02dT%02d:%02d:%02dZ\n", recorder,
                      utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second);
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
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - session->start)
                .count();
        std::snprintf(head, sizeof head, "+%lld.%03lld ", ms / 1000, ms % 1000);
    } else {
        const TraceDateTime local = traceLocalNow();
        std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d ", local.hour, local.minute, local.second,
                      local.millisecond);
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
