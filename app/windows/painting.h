// The main window's painted captions: 30 rows of texts in three fonts at fixed
// places (the port labels, the channel grid, the parameter captions and hints,
// the heading and the modem area).
#pragma once

#include <windows.h>

#include <cstddef>

namespace ostrakan {

enum class PaintFont { Caption, Hint, ModemCaption };

struct PaintFonts {
    HFONT caption = nullptr;       // Consolas 16/900
    HFONT hint = nullptr;          // Consolas 14/100 italic
    HFONT modemCaption = nullptr;  // Consolas 15/900
};

// Made once when the window is created and kept: repainting makes no new fonts.
PaintFonts makePaintFonts();

struct PaintedText {
    int x, y;
    PaintFont font;
    const char* text;  // code page 1251
};

// Rows 1..21 of the captions, in drawing order (rows 22..26, the channel grid
// heads and numbers, follow them; rows 27..30 are the modem panel's).
extern const PaintedText kFixedCaptions[];
extern const std::size_t kFixedCaptionCount;

// Draws everything on WM_PAINT, the modem panel's captions last.
void paintWindow(HDC dc, const PaintFonts& fonts);

}  // namespace ostrakan
