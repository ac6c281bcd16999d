#include "serial/unix/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/line.h"
#include "serial/unix/tty_io.h"

namespace ostrakan {

bool openPseudoTerminal(PseudoTerminal* pty, std::string* error) {
    pty->master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty->master < 0 || ::grantpt(pty->master) != 0 || ::unlockpt(pty->master) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        closePseudoTerminal(pty);
        return false;
    }
    char path[128];
    if (::ptsname_r(pty->master, path, sizeof path) != 0) {
        *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        closePseudoTerminal(pty);
        return false;
    }
    pty->slavePath = path;
    ::fcntl(pty->master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty->master, F_SETFL, ::fcntl(pty->master, F_GETFL) | O_NONBLOCK);
    pty->slaveKeeper = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (pty->slaveKeeper < 0) {
        *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        closePseudoTerminal(pty);
        return false;
    }
    // Raw until the program sets the line up itself: no echo of what the device
    // sends, no line discipline between the two.
    if (configureLine(pty->slaveKeeper) != kPortOpened) {
        *error = std::string("cannot set up ") + path + ": " + std::strerror(errno);
        closePseudoTerminal(pty);
        return false;
    }
    return true;
}

void closePseudoTerminal(PseudoTerminal* pty) {
    if (pty->slaveKeeper >= 0) ::close(pty->slaveKeeper);
    if (pty->master >= 0) ::close(pty->master);
    pty->slaveKeeper = pty->master = -1;
}

}  // namespace ostrakan
