// The COM ports Windows knows, for "ostrakan-cli ports", found without opening
// any of them: the names from the registry's SERIALCOMM key (where every serial
// driver registers its ports), the friendly names, makers and USB identities
// from SetupAPI's Ports class. Opening a port to list it is slow on Bluetooth
// ports and raises DTR and RTS on someone else's device, so whether a port is
// in use is known only after an explicit probe. The same record as the POSIX
// list, so the tool prints both alike.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace ostrakan {

struct PortInfo {
    std::string comName;  // "COM3"
    std::string path;     // the driver's device: "\Device\Serial0", "\Device\VCP0"
    std::string byId;     // not known on Windows: empty
    std::string usbId;    // "1A86:7523" for a USB device, else empty
    std::string maker;    // the driver's maker as SetupAPI has it: "wch.cn"
    std::string product;  // the friendly name: "USB-SERIAL CH340 (COM5)"
    bool inUse = false;   // another program has it open (only after probeInUse)
    bool inUseKnown = false;  // whether inUse was probed: listing opens no port
    std::string holders;  // not known on Windows: empty
};

// Every port of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, by COM number, with what
// SetupAPI says of it. Opens no port. Stops early once *interrupted (see
// stopListingOn) is nonzero.
std::vector<PortInfo> listPorts();

// Ctrl-C's flag: a listing under way stops at the next port once it is set.
void stopListingOn(const std::atomic<int>* interrupted);

// The explicit probe: true when the system refuses the exclusive open the tool
// itself makes. It opens the port, so the driver may raise DTR and RTS for the
// moment it is open.
bool probeInUse(const std::string& comName);

// "1A86:7523" from a device instance id such as "USB\VID_1A86&PID_7523\5&2E1&0&2"
// (also FTDIBUS\VID_0403+PID_6001+...); empty when it has none.
std::string usbIdOf(const std::string& instanceId);

// "COM10" for "\\.\COM10" (the form the system's own paths use); other names as given.
std::string comNameOf(const std::string& port);

}  // namespace ostrakan
