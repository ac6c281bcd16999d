// The trace lines of serial/trace.h on Windows: the same text, the time of
// day from GetLocalTime, a session's times on the monotonic clock, written with
// the C library's _write (which keeps a descriptor opened for appending at its end).
#include <windows.h>

#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "serial/trace.h"

namespace ostrakan {

namespace {

struct LineWriter {
    int fd;
    char buffer[1024];
    unsigned used = 0;

    void put(char c) {
        if (used == sizeof buffer) flush();
        buffer[used++] = c;
    }
    void put(const char* text) {
        while (*text) put(*text++);
    }
    void flush() {
        unsigned done = 0;
        while (done < used) {
            const int w = _write(fd, buffer + done, used - done);
            if (w <= 0) break;
            done += static_cast<unsigned>(w);
        }
        used = 0;
    }
};

// A slot's fd is set (-1 while free) by beginSessionTrace after its start time,
// and read by writeTrace on any thread.
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
        SYSTEMTIME utc{};
        GetSystemTime(&utc);
        char head[200];
        std::snprintf(head, sizeof head, "# %s trace, 9600 8N1, started %04u-%02u-%02uT%02u:%02u:%02uZ\n", recorder,
                      utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
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
        SYSTEMTIME now{};
        GetLocalTime(&now);
        std::snprintf(head, sizeof head, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
                      now.wMilliseconds);
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
