// The window seam: everything the portable core needs from the window system.
// The Win32 back-end maps it onto USER32 controls; the command-line tool and the
// tests use HeadlessWindow (app/headless_window.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// Opaque handle of a child control; 0 means "no control yet".
using ControlHandle = std::uintptr_t;

enum class ControlKind : std::uint8_t {
    Edit,           // framed single-line edit
    MultilineEdit,  // framed edit with ES_MULTILINE
    PushButton,     // default push button
    CheckBox,       // two-state check box the program toggles itself
};

// Fonts the window gives its edits (the painted captions are the back-end's own business).
enum class EditFont : std::uint8_t { Heavy, Thin };

// Check-box states as the window system reports them.
enum CheckState : int { Unchecked = 0, Checked = 1, Indeterminate = 2 };

class Window {
public:
    // Creates a child control with the given id. Text is code-page-1251 bytes,
    // zero-terminated (the empty string for edits).
    virtual ControlHandle createControl(ControlKind kind, int x, int y, int width, int height,
                                        int id, const char* caption) = 0;
    virtual void setEditFont(ControlHandle control, EditFont font) = 0;

    // Edit-control text, code-page-1251 bytes. setControlText takes a zero-terminated
    // string; getControlText behaves like GetWindowText: it copies at most room - 1
    // bytes, always terminates, and returns the number of bytes copied.
    virtual void setControlText(ControlHandle control, const char* text) = 0;
    virtual std::size_t getControlText(ControlHandle control, char* buffer, std::size_t room) = 0;

    // Check-box state by control id (a lookup by id 3139 must find the check box).
    virtual int checkState(int id) = 0;
    virtual void setCheckState(int id, int state) = 0;

    // Menu commands that only the platform can carry out.
    virtual void showAbout() = 0;
    virtual void destroy() = 0;

protected:
    ~Window() = default;
};

// The step of a check box the program toggles itself: unchecked -> third state,
// checked -> unchecked, third -> checked. A two-state box stores the third state
// as checked, so clicks alternate. Returns the state the box had.
inline int stepCheckBox(Window& window, int id) {
    const int was = window.checkState(id);
    window.setCheckState(id, was == Unchecked ? Indeterminate : was == Checked ? Unchecked : Checked);
    return was;
}

}  // namespace ostrakan
