// Reply flag bits set by the reply classifier and cleared by the procedures.
#pragma once

#include <cstdint>

namespace ostrakan {

constexpr std::uint8_t kOkBit = 0x01;
constexpr std::uint8_t kBlankLineOkBit = 0x02;
constexpr std::uint8_t kSicsBit = 0x04;
constexpr std::uint8_t kSissBit = 0x08;
constexpr std::uint8_t kErrorBit = 0x10;
constexpr std::uint8_t kFrameBit = 0x20;

}  // namespace ostrakan
