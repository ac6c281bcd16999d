#include "tools/cli/terminal.h"

#include <windows.h>

namespace ostrakan::cli {

bool terminalSize(int* columns, int* rows) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return false;
    // The window, not the buffer: what is seen without scrolling.
    *columns = info.srWindow.Right - info.srWindow.Left + 1;
    *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return *columns > 0 && *rows > 0;
}

}  // namespace ostrakan::cli
