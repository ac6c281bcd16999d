#include "app/web/web_window.h"

#include <algorithm>

namespace ostrakan {

void WebWindow::note(std::size_t index) {
    if (std::find(changed_.begin(), changed_.end(), index) == changed_.end()) changed_.push_back(index);
}

void WebWindow::setControlText(ControlHandle control, const char* text) {
    HeadlessWindow::setControlText(control, text);
    if (control >= 1 && control <= controlCount()) note(control - 1);
}

void WebWindow::setCheckState(int id, int state) {
    HeadlessWindow::setCheckState(id, state);
    // The lookup by id finds the first control with it: 3139 is channel 31's box.
    for (std::size_t i = 0; i < controlCount(); ++i)
        if (controlAt(i)->id == id) {
            note(i);
            break;
        }
}

std::vector<std::size_t> WebWindow::takeChanged() {
    std::vector<std::size_t> taken;
    taken.swap(changed_);
    return taken;
}

}  // namespace ostrakan
