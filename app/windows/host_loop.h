// The window's thread of a console program on Windows (ostrakan-cli.exe): the
// passes of app/host_loop_base.h, as the main window's thread of ostrakan.exe
// makes them. The reader posts its reports to a message-only window this loop
// owns; between them the thread waits in MsgWaitForMultipleObjectsEx. Same
// interface as the POSIX HostLoop.
#pragma once

#include <windows.h>

#include "app/host_loop_base.h"
#include "serial/windows/win32_line.h"

namespace ostrakan {

class HostLoop : public HostLoopBase {
public:
    // Makes the message-only window on the calling thread, which must be the
    // thread that runs the loop, and gives it to the line: make the loop before
    // the port opens, so that no report of the reader goes astray.
    HostLoop(Core& core, Win32Line& line, TimePoint start = SteadyClock::now());
    ~HostLoop();
    HostLoop(const HostLoop&) = delete;
    HostLoop& operator=(const HostLoop&) = delete;

    // False when the window could not be made (the line has nobody to tell).
    bool ready() const { return window_ != nullptr; }

    void runOnce() override;

private:
    Win32Line& line_;
    HWND window_ = nullptr;
};

}  // namespace ostrakan
