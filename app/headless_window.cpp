#include "app/headless_window.h"

#include <cstring>

namespace ostrakan {

ControlHandle HeadlessWindow::createControl(ControlKind kind, int x, int y, int width, int height,
                                            int id, const char* caption) {
    if (count_ == kMaxControls) return 0;
    Control& c = controls_[count_++];
    c.id = id;
    c.kind = kind;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    setControlText(count_, caption);
    return count_;  // handle = index + 1, so 0 stays "no control"
}

const HeadlessWindow::Control* HeadlessWindow::find(ControlHandle control) const {
    return control >= 1 && control <= count_ ? &controls_[control - 1] : nullptr;
}

HeadlessWindow::Control* HeadlessWindow::find(ControlHandle control) {
    return const_cast<Control*>(static_cast<const HeadlessWindow*>(this)->find(control));
}

HeadlessWindow::Control* HeadlessWindow::findById(int id) {
    return const_cast<Control*>(controlById(id));
}

const HeadlessWindow::Control* HeadlessWindow::controlById(int id) const {
    for (std::size_t i = 0; i < count_; ++i)
        if (controls_[i].id == id) return &controls_[i];
    return nullptr;
}

void HeadlessWindow::setEditFont(ControlHandle control, EditFont font) {
    if (Control* c = find(control)) c->font = font;
}

void HeadlessWindow::setControlText(ControlHandle control, const char* text) {
    Control* c = find(control);
    if (!c) return;
    ++setTextCalls;
    std::size_t n = std::strlen(text);
    if (n > kMaxText - 1) n = kMaxText - 1;
    std::memcpy(c->text, text, n);
    c->text[n] = 0;
    c->textLength = n;
}

std::size_t HeadlessWindow::getControlText(ControlHandle control, char* buffer, std::size_t room) {
    const Control* c = find(control);
    if (room == 0) return 0;
    if (!c) {
        buffer[0] = 0;
        return 0;
    }
    const std::size_t n = c->textLength < room - 1 ? c->textLength : room - 1;
    std::memcpy(buffer, c->text, n);
    buffer[n] = 0;
    return n;
}

const char* HeadlessWindow::textOf(ControlHandle control) const {
    const Control* c = find(control);
    return c ? c->text : "";
}

int HeadlessWindow::checkState(int id) {
    const Control* c = findById(id);
    return c && c->kind == ControlKind::CheckBox ? c->checkState : Unchecked;
}

void HeadlessWindow::setCheckState(int id, int state) {
    Control* c = findById(id);
    if (!c || c->kind != ControlKind::CheckBox) return;
    // A two-state box stores the third state as checked.
    c->checkState = state == Unchecked ? Unchecked : Checked;
}

}  // namespace ostrakan
