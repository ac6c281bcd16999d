// The serial ports of this machine as sysfs and /proc describe them, for
// "ostrakan-cli ports" and for telling the user why a port did not open.
#pragma once

#include <string>
#include <vector>

namespace ostrakan {

struct PortInfo {
    std::string comName;  // "COM33", or empty when no COM name reaches the device
    std::string path;     // what to open: /dev/ttyUSB0, or a comN link in the devices directory
    std::string byId;     // its /dev/serial/by-id name, if udev made one
    std::string usbId;    // "0403:6001" for a USB device
    std::string maker, product;  // the USB descriptor's strings
    bool inUse = false;
    bool inUseKnown = true;  // read from /proc without opening the device
    std::string holders;  // "ModemManager (pid 812)", when we can see who holds it
};

// Every serial device with hardware behind it: ttyS with a UART, ttyUSB, ttyACM,
// ttyAMA and rfcomm, any number; first the comN links of the devices directory,
// then the devices under /dev. Each with its COM name where one maps to it.
std::vector<PortInfo> listPorts();

// Fills the identity and in-use fields for one device path (links followed).
void describePort(PortInfo* port);

// False for a /dev/ttySn whose serial core reports no UART (type 0); true for
// every other device.
bool uartPresent(const std::string& path);

// The group that owns the device node ("dialout", "uucp"), empty if unknown.
std::string deviceGroup(const std::string& path);

// Who holds the device, as far as this user can see: "ModemManager (pid 812)".
// A holder is a process with an flock on the node (from /proc/locks, any user)
// or with the device open (from /proc/PID/fd, this user's processes, or all as
// root). Empty when none is seen.
std::string deviceHolders(const std::string& path);

// True when the program is installed (ModemManager, brltty): the usual takers
// of USB serial adapters.
bool programInstalled(const char* name);

}  // namespace ostrakan
