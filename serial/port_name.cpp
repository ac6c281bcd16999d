#include "serial/port_name.h"

namespace ostrakan {

bool checkPortName(const std::uint8_t* name, std::size_t length) {
    if (length < 4 || length > kMaxPortNameLength) return false;
    if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M') return false;
    std::size_t i = 3;
    while (i < length && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < length && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
    long number = 0;
    while (i < length && name[i] >= '0' && name[i] <= '9') number = number * 10 + (name[i++] - '0');
    if (negative) number = -number;
    return number >= 1 && number <= 256;
}

}  // namespace ostrakan
