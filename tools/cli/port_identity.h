// What device a port name reaches, so that provision can refuse one unit named
// twice before it touches any. tools/cli/unix/port_identity.cpp and
// tools/cli/windows/port_identity.cpp define it.
#pragma once

#include <string>

namespace ostrakan::cli {

// The device behind `typed` (a COM name or, on POSIX, a device path), the same
// text for every name of one device: on POSIX the device file with its links
// resolved; on Windows the COM name without "\\.\" in capitals. False with *why
// for a name that is no port (the window's "Name is wrong."). *open is the name
// to open it by: on Windows the COM name in capitals ("com3" is COM3 there).
bool portIdentity(const std::string& typed, std::string* open, std::string* identity, std::string* why);

}  // namespace ostrakan::cli
