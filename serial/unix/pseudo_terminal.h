// A new pseudo-terminal: the simulator serves its master side, and the program
// (ostrakan-cli, the tests) opens the slave side by path like any serial port.
#pragma once

#include <string>

namespace ostrakan {

// The pseudo-terminal keeps a descriptor of the slave side open as well
// (slaveKeeper), so that the master never reports a hang-up between two programs,
// and puts it into raw mode.
struct PseudoTerminal {
    int master = -1;
    int slaveKeeper = -1;
    std::string slavePath;
};

// The master side is non-blocking and close-on-exec. On failure returns false
// with a message and leaves nothing open.
bool openPseudoTerminal(PseudoTerminal* pty, std::string* error);
void closePseudoTerminal(PseudoTerminal* pty);

}  // namespace ostrakan
