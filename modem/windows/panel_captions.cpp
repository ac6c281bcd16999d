#include "modem/windows/panel_captions.h"

#include <cstring>

#include "modem/panel.h"

namespace ostrakan {

namespace {
const char* const kCaptions[4] = {"IP Address", "APN", "User", "Password"};
}  // namespace

POINT panelCaptionPosition(int row) {
    return POINT{ModemPanel::kOriginX + 41, ModemPanel::kOriginY + 142 + 20 * row};
}

void paintPanelCaptions(HDC dc, HFONT captionFont) {
    HGDIOBJ previous = SelectObject(dc, captionFont);
    for (int row = 0; row < 4; ++row) {
        const POINT at = panelCaptionPosition(row);
        TextOutA(dc, at.x, at.y, kCaptions[row], static_cast<int>(std::strlen(kCaptions[row])));
    }
    SelectObject(dc, previous);
}

}  // namespace ostrakan
