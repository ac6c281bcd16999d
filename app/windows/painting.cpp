#include "app/windows/painting.h"

#include <cstdio>
#include <cstring>

#include "app/windows/text1251.h"
#include "app/windows/win32_window.h"
#include "modem/windows/panel_captions.h"

namespace ostrakan {

PaintFonts makePaintFonts() {
    PaintFonts fonts;
    fonts.caption = makeConsolasFont(16, 900, false);
    fonts.hint = makeConsolasFont(14, 100, true);
    fonts.modemCaption = makeConsolasFont(15, 900, false);
    return fonts;
}

// The Cyrillic texts are 1251 bytes, written as escapes so the source's own
// encoding cannot change them.
const PaintedText kFixedCaptions[] = {
    {21, 22, PaintFont::Caption, "Name of Port"},
    {21, 42, PaintFont::Caption, "Status of Port"},
    // "настройка дискретных каналов"
    {111, 122, PaintFont::Caption,
     "\xED\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0 \xE4\xE8\xF1\xEA\xF0\xE5\xF2\xED\xFB\xF5 "
     "\xEA\xE0\xED\xE0\xEB\xEE\xE2"},
    // "Настройка ТМКР 3170-12 ", with its trailing blank
    {401, 2, PaintFont::Caption, "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0 \xD2\xCC\xCA\xD0 3170-12 "},
    {701, 2, PaintFont::Caption, "Ostrakan field tools"},
    // "Версия 1.0.0   Апрель 2019."
    {701, 22, PaintFont::Caption, "\xC2\xE5\xF0\xF1\xE8\xFF 1.0.0   \xC0\xEF\xF0\xE5\xEB\xFC 2019."},
    // "период опроса" / "передатчика" / "[000..999 (0..1440 минут, шаг 6 минут)]"
    {450, 80, PaintFont::Caption, "\xEF\xE5\xF0\xE8\xEE\xE4 \xEE\xEF\xF0\xEE\xF1\xE0"},
    {450, 100, PaintFont::Caption, "\xEF\xE5\xF0\xE5\xE4\xE0\xF2\xF7\xE8\xEA\xE0"},
    {600, 100, PaintFont::Hint,
     "[000..999 (0..1440 \xEC\xE8\xED\xF3\xF2, \xF8\xE0\xE3 6 \xEC\xE8\xED\xF3\xF2)]"},
    // "собственный адрес" / "[000..255]"
    {450, 170, PaintFont::Caption,
     "\xF1\xEE\xE1\xF1\xF2\xE2\xE5\xED\xED\xFB\xE9 \xE0\xE4\xF0\xE5\xF1"},
    {600, 170, PaintFont::Hint, "[000..255]"},
    // "телефон" / "приёмника 1 / передатчика" / "[начинается с 8]"
    {450, 220, PaintFont::Caption, "\xF2\xE5\xEB\xE5\xF4\xEE\xED"},
    {450, 240, PaintFont::Caption,
     "\xEF\xF0\xE8\xB8\xEC\xED\xE8\xEA\xE0 1 / \xEF\xE5\xF0\xE5\xE4\xE0\xF2\xF7\xE8\xEA\xE0"},
    {660, 240, PaintFont::Hint, "[\xED\xE0\xF7\xE8\xED\xE0\xE5\xF2\xF1\xFF \xF1 8]"},
    // "телефон" / "приёмника 2" / "[начинается с 8]"
    {450, 290, PaintFont::Caption, "\xF2\xE5\xEB\xE5\xF4\xEE\xED"},
    {450, 310, PaintFont::Caption, "\xEF\xF0\xE8\xB8\xEC\xED\xE8\xEA\xE0 2"},
    {550, 310, PaintFont::Hint, "[\xED\xE0\xF7\xE8\xED\xE0\xE5\xF2\xF1\xFF \xF1 8]"},
    // "телефон" / "оператора ТМКР для SMS" / "[начинается с 8]"
    {450, 360, PaintFont::Caption, "\xF2\xE5\xEB\xE5\xF4\xEE\xED"},
    {450, 380, PaintFont::Caption,
     "\xEE\xEF\xE5\xF0\xE0\xF2\xEE\xF0\xE0 \xD2\xCC\xCA\xD0 \xE4\xEB\xFF SMS"},
    {630, 380, PaintFont::Hint, "[\xED\xE0\xF7\xE8\xED\xE0\xE5\xF2\xF1\xFF \xF1 8]"},
    // "настройка сотового модема"
    {592, 480, PaintFont::Caption,
     "\xED\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0 \xF1\xEE\xF2\xEE\xE2\xEE\xE3\xEE "
     "\xEC\xEE\xE4\xE5\xEC\xE0"},
};
const std::size_t kFixedCaptionCount = sizeof kFixedCaptions / sizeof kFixedCaptions[0];

namespace {

void draw(HDC dc, int x, int y, const char* text) {
    textOut1251(dc, x, y, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

void paintWindow(HDC dc, const PaintFonts& fonts) {
    HGDIOBJ original = SelectObject(dc, fonts.caption);
    for (std::size_t i = 0; i < kFixedCaptionCount; ++i) {
        const PaintedText& row = kFixedCaptions[i];
        if (row.font == PaintFont::Hint) SelectObject(dc, fonts.hint);
        draw(dc, row.x, row.y, row.text);
        if (row.font == PaintFont::Hint) SelectObject(dc, fonts.caption);
    }
    // The column heads of the channel grid, over both groups.
    draw(dc, 100, 180, "A");
    draw(dc, 250, 180, "A");
    draw(dc, 140, 180, "T");
    draw(dc, 290, 180, "T");
    draw(dc, 180, 180, "BX");
    draw(dc, 330, 180, "BX");
    // Channel numbers: 1..16 on the left, 17..31 on the right.
    for (int n = 1; n <= 31; ++n) {
        char number[4];
        std::snprintf(number, sizeof number, "%d", n);
        if (n <= 16)
            draw(dc, 75, 200 + 30 * (n - 1), number);
        else
            draw(dc, 225, 200 + 30 * (n - 17), number);
    }
    paintPanelCaptions(dc, fonts.modemCaption);
    SelectObject(dc, original);
}

}  // namespace ostrakan
