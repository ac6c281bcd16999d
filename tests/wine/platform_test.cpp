// The Windows platform pieces that need a real Win32 underneath, run under Wine
// by scripts/test-wine-cli.sh: the settings file's replace (waiting out a
// program that holds the file for a moment, UTF-8 names) and the USB identity
// read from a device instance id. Prints "ok - ..." / "FAIL - ..." lines.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "serial/windows/port_list.h"
#include "settings/replace_file.h"

namespace {

int failures = 0;

void report(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("%s - %s%s%s\n", ok ? "ok" : "FAIL", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    if (!ok) ++failures;
}

std::wstring wide(const char* utf8) {
    wchar_t text[260] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, 259);
    return text;
}

std::string contents(const char* utf8Name) {
    HANDLE f = CreateFileW(wide(utf8Name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[256] = {};
    DWORD got = 0;
    ReadFile(f, buffer, sizeof buffer - 1, &got, nullptr);
    CloseHandle(f);
    return std::string(buffer, got);
}

bool put(const char* utf8Name, const std::string& text) {
    return ostrakan::replaceFile(utf8Name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Leftover temporary files of the replace in the current folder.
int temporaries() {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(L"_da*.tmp", &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return n;
}

struct Holder {
    HANDLE file;
    DWORD ms;
};

DWORD WINAPI releaseLater(LPVOID p) {
    auto* h = static_cast<Holder*>(p);
    Sleep(h->ms);
    CloseHandle(h->file);
    return 0;
}

// Another program (a virus scanner, the indexer) opens the file without sharing
// it for `ms`, while the replace runs.
bool replaceWhileHeld(DWORD ms, const std::string& text, DWORD* took) {
    HANDLE held = CreateFileW(L"_data.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return false;
    Holder holder{held, ms};
    HANDLE thread = CreateThread(nullptr, 0, releaseLater, &holder, 0, nullptr);
    const DWORD start = GetTickCount();
    const bool ok = put("_data.ini", text);
    *took = GetTickCount() - start;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return ok;
}

}  // namespace

int main() {
    struct UsbCase {
        const char* instance;
        const char* usb;
    };
    const UsbCase usbCases[] = {
        {"USB\\VID_1A86&PID_7523\\5&2E1&0&2", "1A86:7523"},       // CH340
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001"},  // FTDI's own bus
        {"usb\\vid_067b&pid_2303\\6&1a2b3c4d&0&1", "067B:2303"},  // Prolific, lower case
        {"ACPI\\PNP0501\\1", ""},                                 // a built-in port
        {"USB\\VID_12&PID_34\\1", ""},                            // cut short
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1", ""},
    };
    for (const UsbCase& c : usbCases) {
        const std::string got = ostrakan::usbIdOf(c.instance);
        report(got == c.usb, std::string("USB identity of ") + c.instance, "\"" + got + "\"");
    }

    report(put("_data.ini", "old"), "a first _data.ini is written");
    DWORD took = 0;
    bool ok = replaceWhileHeld(300, "new", &took) && contents("_data.ini") == "new";
    report(ok && took >= 250, "a replace waits out a program holding the file for 300 ms",
           std::to_string(took) + " ms");
    ok = !replaceWhileHeld(2500, "newer", &took) && contents("_data.ini") == "new";
    report(ok && took >= 800 && took < 2000,
           "a replace gives up after about a second when the file stays held, the old file intact",
           std::to_string(took) + " ms");
    report(temporaries() == 0, "no temporary file is left behind", std::to_string(temporaries()));
    const char* cyrillic = "\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C.ini";  // Профиль.ini
    report(put(cyrillic, "profile") && contents(cyrillic) == "profile", "a UTF-8 name is written as that name");
    DeleteFileW(wide(cyrillic).c_str());

    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
