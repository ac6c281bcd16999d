// The program keeps its texts as code-page-1251 bytes; the window system is
// given them as UTF-16, converted with an explicit 1251 table, so Cyrillic reads
// right whatever the machine's own ANSI code page is.
#pragma once

#include <windows.h>

#include <cstddef>

namespace ostrakan {

constexpr UINT kCodePage1251 = 1251;

// Converts `length` bytes of 1251 text into `wide` (room for `room` units,
// including a terminating zero) and returns the units written before the zero.
int widenFrom1251(const char* text, int length, wchar_t* wide, int room);

// The byte that stands for a character 1251 cannot hold: SUB (Ctrl-Z). No
// entry can hold it (a text-mode read of _data.ini stops there), so a modem
// Write with such an entry ends with "Error!" before anything is sent, and no
// other character silently takes the place of the one on screen.
constexpr char kNotIn1251 = 0x1A;

// Whether 1251 holds the UTF-16 unit exactly: it comes back unchanged from a
// round trip, so neither the default '?' nor a best-fit look-alike counts.
bool holdsIn1251(wchar_t unit);

// Converts a zero-terminated UTF-16 text into at most room - 1 bytes of 1251
// text plus a terminating zero; returns the bytes written before the zero.
// Each unit 1251 lacks (each half of a surrogate pair too) becomes kNotIn1251.
std::size_t narrowTo1251(const wchar_t* wide, char* text, std::size_t room);

// Window text in 1251 bytes, through the wide API.
void setWindowText1251(HWND window, const char* text);
std::size_t getWindowText1251(HWND window, char* buffer, std::size_t room);

// TextOutW of 1251 bytes.
void textOut1251(HDC dc, int x, int y, const char* text, int length);

}  // namespace ostrakan
