// The open and close commands of the "Communication" menu and their messages.
#include <cstring>

#include "app/core.h"
#include "serial/port_name.h"

namespace ostrakan {

void Core::openPort() {
    std::uint8_t name[TextField::kByteCapacity] = {};
    portNameField.selectBytes();
    portNameField.readControl();
    const std::size_t n = portNameField.length();
    if (n > kMaxPortNameLength || !checkPortName(portNameField.data(), n)) {
        statusField.showBytes("Name is wrong.");
        return;
    }
    portNameField.copyOut(name);
    // Our own port is already open: a second open must not replace its handle or
    // its threads, whatever the system would allow.
    if (line.isOpen() || line.open(reinterpret_cast<const char*>(name)) != kPortOpened) {
        statusField.showBytes("Port did't open!");
        return;
    }
    std::memcpy(openedPortName, name, sizeof openedPortName - 1);
    openedPortName[sizeof openedPortName - 1] = 0;
    char message[32] = "The ";
    std::strcat(message, openedPortName);
    std::strcat(message, " is opened.");
    statusField.showBytes(message);
}

void Core::onLineLost() {
    if (!line.isOpen()) return;  // the user closed it meanwhile
    line.close();
    char message[32] = "The ";
    std::strcat(message, openedPortName);
    std::strcat(message, " is lost!");
    statusField.showBytes(message);
    // Nothing will answer: what waits for a reply ends now, as on its deadline.
    modemQuery.endOnLoss(*this);
    modemSetup.endOnLoss(*this);
    for (ControllerProcedure& procedure : controllerProcedures) procedure.endOnLoss(tickCounter);
}

void Core::closePort() {
    line.close();
    statusField.showBytes("The Port is closed.");
}

}  // namespace ostrakan
