#include "tools/cli/unit_log.h"

#include <windows.h>

namespace ostrakan::cli {

namespace {

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::string lastError() {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

}  // namespace

UnitLogFile::~UnitLogFile() {
    if (handle_ != kClosed) CloseHandle(handleOf(handle_));
}

bool UnitLogFile::open(const std::string& path, std::string* why) {
    // The path is UTF-8: through the wide API it names the file whatever the
    // system's code page.
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        *why = "the name is not UTF-8";
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), n);
    // FILE_APPEND_DATA alone: every WriteFile goes to the end of the file as
    // one piece, also with other programs appending.
    const HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = lastError();
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        *why = "not a regular file";
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

bool UnitLogFile::append(const std::string& line, std::string* why) {
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        *why = lastError();
        return false;
    }
    if (written != line.size()) {
        *why = "the line was cut short (disk full?)";
        return false;
    }
    if (!FlushFileBuffers(handleOf(handle_))) {
        *why = lastError();
        return false;
    }
    return true;
}

}  // namespace ostrakan::cli
