#include "tools/cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace ostrakan::cli {

bool terminalSize(int* columns, int* rows) {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
    *columns = size.ws_col;
    *rows = size.ws_row;
    return true;
}

}  // namespace ostrakan::cli
