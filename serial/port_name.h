// The check a typed port name must pass before any device is touched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

constexpr std::size_t kMaxPortNameLength = 6;  // "COM256"

// 4..6 characters, "COM" (case-sensitive), then a number 1..256 read the way the
// C library's atoi reads it (leading blanks, a sign, digits up to a non-digit):
// COM1x passes and then fails to open.
bool checkPortName(const std::uint8_t* name, std::size_t length);

}  // namespace ostrakan
