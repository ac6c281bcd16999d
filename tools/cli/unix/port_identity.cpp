#include "tools/cli/port_identity.h"

#include <climits>
#include <cstdlib>

#include "serial/port_name.h"
#include "serial/unix/port_map.h"

namespace ostrakan::cli {

bool portIdentity(const std::string& typed, std::string* open, std::string* identity, std::string* why) {
    *open = typed;
    std::string device = typed;
    if (!isDevicePath(typed.c_str())) {
        if (!checkPortName(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size())) {
            *why = "Name is wrong. (a port is COM1..COM256, a device path or sim)";
            return false;
        }
        char path[kDevicePathRoom];
        // A COM name with no device at all is the open's to report, for that unit.
        if (mapPortName(typed.c_str(), path, sizeof path)) device = path;
    }
    // Links resolved (a by-id name, a comN override, a link to a link): one
    // device, one identity. A device that is not there keeps its name.
    char resolved[PATH_MAX];
    *identity = ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
    return true;
}

}  // namespace ostrakan::cli
