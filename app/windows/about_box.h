// The modal About box (dialog resource 103).
#pragma once

#include <windows.h>

namespace ostrakan {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the box modally on the main window; its result is of no interest. The
// box's own loop goes on dispatching the main window's timers, so the tick and
// the reply classifier keep running while it is open.
void runAboutBox(HINSTANCE instance, HWND owner);

}  // namespace ostrakan
