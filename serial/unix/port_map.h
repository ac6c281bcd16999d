// Where a COM name lives on a POSIX system. Like Wine's dosdevices, a link named
// after the port (lower case, "com3") in the devices directory wins; otherwise
// COM1..COM32 are /dev/ttyS0..31, COM33..COM64 /dev/ttyUSB0..31 and COM65..COM96
// /dev/ttyACM0..31. The devices directory is $OSTRAKAN_DEVICES, or
// $HOME/.ostrakan/devices.
#pragma once

#include <cstddef>

namespace ostrakan {

constexpr std::size_t kDevicePathRoom = 512;

// True for a name the line treats as a device path rather than a COM name.
bool isDevicePath(const char* name);

// The devices directory (an override link directory); false when neither
// variable is set.
bool devicesDirectory(char* path, std::size_t room);

// Maps "COMn" (n 1..256, the caller has checked the name) or a device path to the
// file to open. False when the COM name has no device in either way.
bool mapPortName(const char* name, char* path, std::size_t room);

// The built-in mapping alone, without the override links: "COMn" -> /dev/...
bool defaultDeviceOf(int number, char* path, std::size_t room);

}  // namespace ostrakan
