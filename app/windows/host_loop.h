// The window's thread of a console program on Windows (ostrakan-cli.exe): one
// thread that runs the 54 ms tick on the monotonic clock and the reply
// classifier when the serial reader reports that a burst has ended (or the
// port's loss when the device went away), never two at once, as the main
// window's thread of ostrakan.exe does. The reader posts its reports to a
// message-only window this loop owns; between them the thread waits in
// MsgWaitForMultipleObjectsEx. Same interface as the POSIX HostLoop.
#pragma once

#include <windows.h>

#include "app/core.h"
#include "app/tick_schedule.h"
#include "serial/windows/win32_line.h"

namespace ostrakan {

class HostLoop {
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

    // One pass at `now`: the classifier first if a burst ended, then the loss of
    // the line (the core closes the port), then the tick if it is due.
    void handle(TimePoint now, bool burstEnded, bool lineLost = false);

    // Waits for the next due tick or a report of the reader, then handles it.
    void runOnce();

    // Runs passes until done(context) is true after one of them.
    using Done = bool (*)(void* context);
    void runUntil(Done done, void* context);

    unsigned long ticks() const { return ticks_; }
    unsigned long classified() const { return classified_; }
    unsigned long losses() const { return losses_; }

private:
    Core& core_;
    Win32Line& line_;
    HWND window_ = nullptr;
    TickSchedule schedule_;
    unsigned long ticks_ = 0;
    unsigned long classified_ = 0;
    unsigned long losses_ = 0;
};

}  // namespace ostrakan
