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
//
// Traces go to support and into tests, so the modem password never appears in
// one: its bytes are written as "**" in the hex column and '*' in the text
// column, one for each byte, wherever a burst carries the password command
// (AT^SICS=0,"passwd","...").
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

// Where the password's bytes lie in a burst: true with [*begin, *begin + *length)
// when the burst holds the password command, from the byte after its opening
// quote up to the last quote before a CR (a password may hold quotes and CRs);
// a burst cut before that quote hides everything after the opening quote.
bool findTraceSecret(const std::uint8_t* bytes, std::size_t count, std::size_t* begin, std::size_t* length);

// Writes the line for a burst of any length to fd, in 1 KiB pieces, with no
// allocation; callers keep to one thread per descriptor. Does nothing for fd < 0.
void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count);

}  // namespace ostrakan
