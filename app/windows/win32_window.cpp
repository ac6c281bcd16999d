#include "app/windows/win32_window.h"

#include <cstring>

#include "app/windows/about_box.h"
#include "app/windows/text1251.h"

namespace ostrakan {

namespace {

HWND asWindow(ControlHandle control) { return reinterpret_cast<HWND>(control); }

// The EDIT class's own procedure, taken from the first edit made; every edit is
// made on the window's thread before the loop runs, and it is not changed after.
WNDPROC editClassProc = nullptr;

bool clipboardHoldsIn1251(HWND edit) {
    if (!OpenClipboard(edit)) return true;  // nothing to paste that we can see
    bool holds = true;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            for (const wchar_t* c = text; *c && holds; ++c) holds = holdsIn1251(*c);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return holds;
}

// The edits take only what code page 1251 holds: a typed character it lacks
// (a surrogate half included) is refused with a beep, and so is a paste with
// any such character in it. Whatever else gets in (an input method's result)
// reaches the core as kNotIn1251, which no entry can be saved with.
LRESULT CALLBACK editProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool refused = (message == WM_CHAR && wParam >= 0x20 &&
                          !holdsIn1251(static_cast<wchar_t>(wParam))) ||
                         (message == WM_PASTE && !clipboardHoldsIn1251(edit));
    if (refused) {
        MessageBeep(MB_OK);
        return 0;
    }
    return CallWindowProcW(editClassProc, edit, message, wParam, lParam);
}

}  // namespace

HFONT makeConsolasFont(int height, int weight, bool italic) {
    return CreateFontA(height, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FF_SWISS | DEFAULT_PITCH, "Consolas");
}

DWORD controlStyle(ControlKind kind) {
    switch (kind) {
    case ControlKind::Edit: return WS_CHILD | WS_VISIBLE | WS_DLGFRAME;
    case ControlKind::MultilineEdit: return WS_CHILD | WS_VISIBLE | WS_DLGFRAME | ES_MULTILINE;
    case ControlKind::PushButton: return WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
    case ControlKind::CheckBox: return WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX;
    }
    return WS_CHILD | WS_VISIBLE;
}

const wchar_t* controlClass(ControlKind kind) {
    return kind == ControlKind::Edit || kind == ControlKind::MultilineEdit ? L"EDIT" : L"BUTTON";
}

void Win32Window::attach(HWND main, HINSTANCE instance) {
    main_ = main;
    instance_ = instance;
}

ControlHandle Win32Window::createControl(ControlKind kind, int x, int y, int width, int height,
                                         int id, const char* caption) {
    // The heavy and thin fonts are made before the first control that uses them,
    // once for the whole run.
    if (!fonts_.heavy) fonts_.heavy = makeConsolasFont(14, 900, false);
    if (!fonts_.thin) fonts_.thin = makeConsolasFont(14, 100, false);
    wchar_t text[256];
    widenFrom1251(caption, static_cast<int>(std::strlen(caption)), text, 256);
    // A child window appended to its siblings goes last in their order, so a
    // lookup by id finds the control made first with that id (3139: the BX box).
    HWND control = CreateWindowExW(0, controlClass(kind), text, controlStyle(kind), x, y, width,
                                   height, main_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                   nullptr);
    if (control && (kind == ControlKind::Edit || kind == ControlKind::MultilineEdit)) {
        const auto previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editProc)));
        if (!editClassProc) editClassProc = previous;
    }
    return reinterpret_cast<ControlHandle>(control);
}

void Win32Window::setEditFont(ControlHandle control, EditFont font) {
    HFONT f = font == EditFont::Heavy ? fonts_.heavy : fonts_.thin;
    SendMessageW(asWindow(control), WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
}

void Win32Window::setControlText(ControlHandle control, const char* text) {
    if (control) setWindowText1251(asWindow(control), text);
}

std::size_t Win32Window::getControlText(ControlHandle control, char* buffer, std::size_t room) {
    if (room == 0) return 0;
    if (!control) {
        buffer[0] = 0;
        return 0;
    }
    return getWindowText1251(asWindow(control), buffer, room);
}

int Win32Window::checkState(int id) {
    return static_cast<int>(IsDlgButtonChecked(main_, id));
}

void Win32Window::setCheckState(int id, int state) {
    CheckDlgButton(main_, id, static_cast<UINT>(state));
}

void Win32Window::showAbout() { runAboutBox(instance_, main_); }

void Win32Window::destroy() { DestroyWindow(main_); }

}  // namespace ostrakan
