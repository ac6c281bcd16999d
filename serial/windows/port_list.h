// The COM ports Windows knows, from the registry's SERIALCOMM key (what every
// serial driver registers its ports in; no SetupAPI), for "ostrakan-cli ports".
// The same record as the POSIX list, so the tool prints both alike.
#pragma once

#include <string>
#include <vector>

namespace ostrakan {

struct PortInfo {
    std::string comName;  // "COM3"
    std::string path;     // the driver's device: "\Device\Serial0", "\Device\VCP0"
    std::string byId;     // not known on Windows: empty
    std::string usbId;    // not known without SetupAPI: empty
    std::string maker, product;
    bool inUse = false;   // another program has it open
    std::string holders;  // not known on Windows: empty
};

// Every port of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, by COM number.
std::vector<PortInfo> listPorts();

// "COM10" for "\\.\COM10" (the form the system's own paths use); other names as given.
std::string comNameOf(const std::string& port);

}  // namespace ostrakan
