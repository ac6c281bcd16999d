#include "app/windows/text1251.h"

#include <cstring>

namespace ostrakan {

namespace {
// Longest text any control holds: the text view of a field (765) with room to spare.
constexpr int kMaxWide = 1024;
}  // namespace

int widenFrom1251(const char* text, int length, wchar_t* wide, int room) {
    if (room <= 0) return 0;
    if (length > room - 1) length = room - 1;
    int n = 0;
    if (length > 0) n = MultiByteToWideChar(kCodePage1251, 0, text, length, wide, room - 1);
    wide[n] = 0;
    return n;
}

bool holdsIn1251(wchar_t unit) {
    char byte = 0;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(kCodePage1251, WC_NO_BEST_FIT_CHARS, &unit, 1, &byte, 1, nullptr,
                            &usedDefault) != 1 ||
        usedDefault)
        return false;
    wchar_t back = 0;
    return MultiByteToWideChar(kCodePage1251, 0, &byte, 1, &back, 1) == 1 && back == unit;
}

std::size_t narrowTo1251(const wchar_t* wide, char* text, std::size_t room) {
    if (room == 0) return 0;
    // One unit at a time: 1251 is a single-byte code page, so each unit that it
    // holds is one byte, and each one it lacks is marked where it stands.
    std::size_t count = 0;
    for (; count + 1 < room && wide[count] != 0; ++count) {
        char byte = kNotIn1251;
        if (holdsIn1251(wide[count]))
            WideCharToMultiByte(kCodePage1251, 0, &wide[count], 1, &byte, 1, nullptr, nullptr);
        text[count] = byte;
    }
    text[count] = 0;
    return count;
}

void setWindowText1251(HWND window, const char* text) {
    wchar_t wide[kMaxWide];
    widenFrom1251(text, static_cast<int>(std::strlen(text)), wide, kMaxWide);
    SetWindowTextW(window, wide);
}

std::size_t getWindowText1251(HWND window, char* buffer, std::size_t room) {
    if (room == 0) return 0;
    wchar_t wide[kMaxWide];
    const int wideRoom = room < static_cast<std::size_t>(kMaxWide) ? static_cast<int>(room) : kMaxWide;
    const int n = GetWindowTextW(window, wide, wideRoom);
    wide[n > 0 ? n : 0] = 0;
    return narrowTo1251(wide, buffer, room);
}

void textOut1251(HDC dc, int x, int y, const char* text, int length) {
    wchar_t wide[256];
    const int n = widenFrom1251(text, length, wide, 256);
    TextOutW(dc, x, y, wide, n);
}

}  // namespace ostrakan
