// One trace line per exchange, in one of two forms:
//
//   12:00:01.234 RX 0A 21 AA 4E 41 00 |.!..NA.|     a plain trace (stderr)
//   +12.345 TX 0A 21 AA 4E 41 00 |.!..NA.|           a session trace (a file)
//
// A plain trace starts each line with the time of day with milliseconds. A
// session trace starts with a header line naming what recorded it,
//   # ostrakan-cli 1.1.0 trace, 9600 8N1, started 2026-12-07T12:00:00Z
// and stamps each line with the seconds since that header (monotonic clock).
// Then the direction, the bytes in hex, and the bytes as text between bars
// (anything outside 0x20..0x7E shown as '.'). The back end, ostrakan-cli and the
// simulator all write them here; docs/cli-and-simulator.md describes both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// The most descriptors that can hold a session trace at once (one per simulated
// unit, one for the tool).
constexpr int kMaxSessionTraces = 64;

// Writes the header naming `recorder` (for example "ostrakan-cli 1.1.0") to fd
// and makes every later writeTrace(fd, ...) a session line timed from now. Call
// it before any thread traces to fd. False when fd < 0 or every slot is taken
// (the lines then stay plain).
bool beginSessionTrace(int fd, const char* recorder);

// Forgets fd's session (before the descriptor is closed).
void endSessionTrace(int fd);

// Writes the line for a burst of any length to fd, in 1 KiB pieces, with no
// allocation; callers keep to one thread per descriptor. Does nothing for fd < 0.
void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count);

}  // namespace ostrakan
