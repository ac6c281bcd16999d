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

std::size_t narrowTo1251(const wchar_t* wide, char* text, std::size_t room) {
    if (room == 0) return 0;
    // 1251 is a single-byte code page, but a surrogate pair may still come out as
    // one or two bytes: convert into scratch room first and cut afterwards, since
    // a short destination makes the conversion fail as a whole.
    char scratch[2 * kMaxWide + 2];
    const int units = static_cast<int>(wcsnlen(wide, kMaxWide));
    int n = 0;
    if (units > 0)
        n = WideCharToMultiByte(kCodePage1251, 0, wide, units, scratch,
                                static_cast<int>(sizeof scratch), nullptr, nullptr);
    std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (count > room - 1) count = room - 1;
    std::memcpy(text, scratch, count);
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
