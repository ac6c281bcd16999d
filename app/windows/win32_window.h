// The Window seam on USER32: child EDIT and BUTTON controls of the main window,
// their fonts, texts (1251 bytes through the wide API) and check states.
#pragma once

#include <windows.h>

#include "app/window.h"

namespace ostrakan {

// The edit fonts, made once and kept for the life of the window.
struct EditFonts {
    HFONT heavy = nullptr;  // port name and status
    HFONT thin = nullptr;   // parameter fields and the modem panel's edits
};

// Consolas with the fixed family and pitch every font of the window uses.
HFONT makeConsolasFont(int height, int weight, bool italic);

class Win32Window : public Window {
public:
    // The main window is known from its WM_CREATE on, before CreateWindowExA returns.
    void attach(HWND main, HINSTANCE instance);
    HWND handle() const { return main_; }
    HINSTANCE instance() const { return instance_; }

    ControlHandle createControl(ControlKind kind, int x, int y, int width, int height, int id,
                                const char* caption) override;
    void setEditFont(ControlHandle control, EditFont font) override;
    void setControlText(ControlHandle control, const char* text) override;
    std::size_t getControlText(ControlHandle control, char* buffer, std::size_t room) override;
    int checkState(int id) override;
    void setCheckState(int id, int state) override;
    void showAbout() override;
    void destroy() override;

private:
    HWND main_ = nullptr;
    HINSTANCE instance_ = nullptr;
    EditFonts fonts_;
};

// Window styles of each control kind.
DWORD controlStyle(ControlKind kind);
const wchar_t* controlClass(ControlKind kind);

}  // namespace ostrakan
