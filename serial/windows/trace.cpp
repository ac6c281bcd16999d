// The trace lines of serial/unix/trace.h on Windows: the same text, the time of
// day from GetLocalTime, written through the descriptor's handle.
#include <windows.h>

#include <io.h>

#include <cstdio>

#include "serial/unix/trace.h"

namespace ostrakan {

namespace {

struct LineWriter {
    HANDLE handle;
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
        DWORD written = 0;
        if (used > 0) WriteFile(handle, buffer, static_cast<DWORD>(used), &written, nullptr);
        used = 0;
    }
};

}  // namespace

void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    if (fd < 0) return;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char head[32];
    std::snprintf(head, sizeof head, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
    LineWriter out{handle, {}};
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
