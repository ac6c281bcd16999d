// The modem panel's painted captions: "IP Address", "APN", "User", "Password"
// beside its four entries.
#pragma once

#include <windows.h>

namespace ostrakan {

// Draws the four captions into the paint's device context in the modem caption
// font (Consolas 15/900), which the caller made once and keeps.
void paintPanelCaptions(HDC dc, HFONT captionFont);

// Where caption `row` (0..3) goes, relative to the client area.
POINT panelCaptionPosition(int row);

}  // namespace ostrakan
