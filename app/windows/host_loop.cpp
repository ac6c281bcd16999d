#include "app/windows/host_loop.h"

namespace ostrakan {

namespace {

const wchar_t kClassName[] = L"OstrakanHostLoop";

// Registered once per process; every loop (one per provisioning worker) makes
// its own window of it on its own thread.
bool registerClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

HostLoop::HostLoop(Core& core, Win32Line& line, TimePoint start) : HostLoopBase(core, start), line_(line) {
    if (registerClass())
        window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    line_.setMainWindow(window_);
}

HostLoop::~HostLoop() {
    line_.setMainWindow(nullptr);
    if (window_) DestroyWindow(window_);
}

void HostLoop::runOnce() {
    const int timeout = waitTimeout(SteadyClock::now());
    // MWMO_INPUTAVAILABLE: a message already queued ends the wait too.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(timeout), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    // The reader's reports in the order it posted them: a loss posted after a
    // burst's end must not overtake it.
    bool burstEnded = false;
    bool lineLost = false;
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == window_ && msg.message == kBurstEndedMessage)
            burstEnded = burstEnded || line_.takeBurstEnd();
        else if (msg.hwnd == window_ && msg.message == kLineLostMessage)
            lineLost = lineLost || line_.lost();
        else
            DispatchMessageW(&msg);
    }
    handle(SteadyClock::now(), burstEnded, lineLost);
}

}  // namespace ostrakan
