#include "tools/cli/port_identity.h"

#include <cstdint>

#include "serial/port_name.h"
#include "serial/windows/port_list.h"

namespace ostrakan::cli {

bool portIdentity(const std::string& typed, std::string* open, std::string* identity, std::string* why) {
    // "\\.\COM3" is how the system's own paths name COM3, and the system's
    // COM names ignore case: com3, COM3 and \\.\COM3 are one device.
    std::string name = comNameOf(typed);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!checkPortName(reinterpret_cast<const std::uint8_t*>(name.data()), name.size())) {
        *why = "Name is wrong. (a port is COM1..COM256 or sim)";
        return false;
    }
    *open = name;
    *identity = name;
    return true;
}

}  // namespace ostrakan::cli
