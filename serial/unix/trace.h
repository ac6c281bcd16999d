// One trace line per exchange: "12:00:01.234 RX 0A 21 AA 4E 41 00 |.!..NA.|".
// Time of day with milliseconds, the direction, the bytes in hex, then the bytes
// as text between bars (anything outside 0x20..0x7E shown as '.').
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// Room for the longest line: 600 bytes as hex and text, plus the head.
constexpr std::size_t kTraceLineRoom = 4 * 600 + 64;

// Formats the line (ending in '\n') into `out`; returns its length.
std::size_t formatTrace(char* out, std::size_t room, const char* direction,
                        const std::uint8_t* bytes, std::size_t count);

// Writes the line for a burst of any length to fd, in 1 KiB pieces; callers keep
// to one thread per descriptor. Does nothing for fd < 0.
void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count);

}  // namespace ostrakan
