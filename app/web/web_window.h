// The window seam in the browser: the controls live in memory as in
// HeadlessWindow, and every text or check state the core sets is also noted, so
// the Worker can hand the page exactly what changed after each pass. What the
// user types comes the other way through type(), which the page's inputs call.
#pragma once

#include <cstddef>
#include <vector>

#include "app/headless_window.h"

namespace ostrakan {

class WebWindow : public HeadlessWindow {
public:
    void setControlText(ControlHandle control, const char* text) override;
    void setCheckState(int id, int state) override;

    // The user's typing: no change to report back to the page it came from.
    void type(std::size_t index, const char* text) { HeadlessWindow::setControlText(index + 1, text); }

    // Indices (creation order) of the controls changed since the last call.
    std::vector<std::size_t> takeChanged();

private:
    void note(std::size_t index);

    std::vector<std::size_t> changed_;
};

}  // namespace ostrakan
