// Entry point, message loop and main window procedure of ostrakan.exe.
#include <windows.h>

#include "app/core.h"
#include "app/windows/painting.h"
#include "app/windows/win32_window.h"
#include "resources/resource.h"
#include "serial/link_buffers.h"
#include "serial/windows/win32_line.h"

namespace ostrakan {
namespace {

constexpr UINT_PTR kTickTimerId = 2;
constexpr UINT kTickPeriod = 54;
constexpr int kWindowWidth = 950;
constexpr int kWindowHeight = 780;
constexpr int kResourceTextRoom = 100;

// The whole program state lives for the whole run.
LinkBuffers link;
Win32Line line(link);
Win32Window window;
Core core(window, line, link);
PaintFonts paintFonts;

HINSTANCE moduleInstance = nullptr;
// Set once CreateWindowExA has returned; the reader posts the ends of bursts to it.
HWND mainWindow = nullptr;

LRESULT onCreate(HWND hwnd) {
    window.attach(hwnd, moduleInstance);
    core.startUp();
    paintFonts = makePaintFonts();
    return 0;
}

LRESULT onPaint(HWND hwnd) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    paintWindow(dc, paintFonts);
    EndPaint(hwnd, &paint);
    return 0;
}

LRESULT onTimer(WPARAM id) {
    if (id == kTickTimerId) core.tick();
    return 0;
}

// The reader found the line quiet for 200 ms and holds the burst for us.
LRESULT onBurstEnded() {
    if (line.takeBurstEnd()) core.onGapTimer();
    return 0;
}

// A reader or writer saw the device go. A message that arrives after the user
// has closed the port meanwhile finds nothing lost.
LRESULT onLineLost() {
    if (line.lost()) core.onLineLost();
    return 0;
}

LRESULT onDestroy() {
    // The port and its threads end with the process; nothing is saved.
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return onCreate(hwnd);
    case WM_PAINT: return onPaint(hwnd);
    case WM_TIMER: return onTimer(wParam);
    case WM_COMMAND:
        if (core.onCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
        break;
    case kBurstEndedMessage: return onBurstEnded();
    case kLineLostMessage: return onLineLost();
    case WM_DESTROY: return onDestroy();
    default: break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void registerMainClass(HINSTANCE instance, const char* className) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_OSTRAKAN));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_OSTRAKAN);
    wc.lpszClassName = className;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    RegisterClassExA(&wc);
}

}  // namespace

int run(HINSTANCE instance, int showCommand) {
    char title[kResourceTextRoom] = {};
    char className[kResourceTextRoom] = {};
    LoadStringA(instance, IDS_APP_TITLE, title, kResourceTextRoom);
    LoadStringA(instance, IDC_OSTRAKAN, className, kResourceTextRoom);
    registerMainClass(instance, className);

    moduleInstance = instance;
    HWND hwnd = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr,
                                instance, nullptr);
    if (!hwnd) return 0;
    mainWindow = hwnd;
    line.setMainWindow(mainWindow);
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_OSTRAKAN));
    // The first tick comes only after the start-up sequence and the first paint.
    SetTimer(mainWindow, kTickTimerId, kTickPeriod, nullptr);

    // A wide loop: the characters TranslateMessage makes from typed keys stay
    // UTF-16 all the way to the edits (wide windows, made with CreateWindowExW),
    // which are read back as 1251. An ANSI loop would pass them through the
    // system's code page first and turn Cyrillic into '?' on a non-Russian
    // Windows. The main window's class stays ANSI: it takes no typed text, and
    // the system converts what it is dispatched.
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Translated for the window that got the key: an accelerator typed while a
        // control has the focus goes to that control, which ignores it.
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace ostrakan

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    return ostrakan::run(instance, showCommand);
}
