// A window without a screen: controls kept in memory, for the command-line tool
// and the tests. A lookup by id finds the first control created with it, as the
// window system's child search does (so 3139 is channel 31's BX box).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/window.h"

namespace ostrakan {

class HeadlessWindow : public Window {
public:
    static constexpr std::size_t kMaxControls = 128;
    static constexpr std::size_t kMaxText = 1024;

    struct Control {
        int id = 0;
        ControlKind kind = ControlKind::Edit;
        int x = 0, y = 0, width = 0, height = 0;
        EditFont font = EditFont::Thin;
        int checkState = Unchecked;
        std::size_t textLength = 0;
        char text[kMaxText] = {};
    };

    ControlHandle createControl(ControlKind kind, int x, int y, int width, int height, int id,
                                const char* caption) override;
    void setEditFont(ControlHandle control, EditFont font) override;
    void setControlText(ControlHandle control, const char* text) override;
    std::size_t getControlText(ControlHandle control, char* buffer, std::size_t room) override;
    int checkState(int id) override;
    void setCheckState(int id, int state) override;
    void showAbout() override { ++aboutShown; }
    void destroy() override { destroyed = true; }

    // What a user does and sees.
    void typeInto(ControlHandle control, const char* text) { setControlText(control, text); }
    const char* textOf(ControlHandle control) const;
    const Control* controlById(int id) const;
    const Control* controlAt(std::size_t index) const {
        return index < count_ ? &controls_[index] : nullptr;
    }
    std::size_t controlCount() const { return count_; }

    int aboutShown = 0;
    bool destroyed = false;
    int setTextCalls = 0;

private:
    Control* find(ControlHandle control);
    const Control* find(ControlHandle control) const;
    Control* findById(int id);

    Control controls_[kMaxControls];
    std::size_t count_ = 0;
};

}  // namespace ostrakan
