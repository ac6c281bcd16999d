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

bool findTraceSecret(const std::uint8_t* bytes, std::size_t count, std::size_t* begin, std::size_t* length) {
    // "SICS=", a profile number, then the key; the value starts after the quote.
    static const char kCommand[] = "SICS=";
    static const char kKey[] = ",\"passwd\",\"";
    const std::size_t commandLength = sizeof kCommand - 1;
    const std::size_t keyLength = sizeof kKey - 1;
    for (std::size_t i = 0; i + commandLength <= count; ++i) {
        std::size_t j = 0;
        while (j < commandLength && bytes[i + j] == static_cast<std::uint8_t>(kCommand[j])) ++j;
        if (j < commandLength) continue;
        std::size_t k = i + commandLength;
        while (k < count && bytes[k] >= '0' && bytes[k] <= '9') ++k;
        j = 0;
        while (j < keyLength && k + j < count && bytes[k + j] == static_cast<std::uint8_t>(kKey[j])) ++j;
        if (j < keyLength) continue;
        const std::size_t start = k + keyLength;
        std::size_t end = count;  // cut short: hide the rest
        for (std::size_t q = count; q >= start + 2; --q)
            if (bytes[q - 2] == '"' && bytes[q - 1] == '\r') {
                end = q - 2;
                break;
            }
        *begin = start;
        *length = end - start;
        return true;
    }
    return false;
}

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
    std::size_t secretBegin = 0, secretLength = 0;
    if (!findTraceSecret(bytes, count, &secretBegin, &secretLength)) secretBegin = count;
    const auto secret = [&](std::size_t i) { return i >= secretBegin && i - secretBegin < secretLength; };
    LineWriter out{fd, {}};
    out.put(head);
    out.put(direction);
    for (std::size_t i = 0; i < count; ++i) {
        out.put(' ');
        out.put(secret(i) ? '*' : kHex[bytes[i] >> 4]);
        out.put(secret(i) ? '*' : kHex[bytes[i] & 0x0F]);
    }
    out.put(" |");
    for (std::size_t i = 0; i < count; ++i)
        out.put(secret(i) ? '*' : bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.');
    out.put("|\n");
    out.flush();
}

}  // namespace ostrakan
