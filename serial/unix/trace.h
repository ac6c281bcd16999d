// One trace line per exchange: "12:00:01.234 RX 0A 21 AA 4E 41 00 |.!..NA.|".
// Time of day with milliseconds, the direction, the bytes in hex, then the bytes
// as text between bars (anything outside 0x20..0x7E shown as '.'). The back end,
// ostrakan-cli --trace and the simulator all write it here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// Writes the line for a burst of any length to fd, in 1 KiB pieces, with no
// allocation; callers keep to one thread per descriptor. Does nothing for fd < 0.
void writeTrace(int fd, const char* direction, const std::uint8_t* bytes, std::size_t count);

}  // namespace ostrakan
