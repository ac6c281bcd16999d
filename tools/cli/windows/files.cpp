#include "tools/cli/files.h"

#include <windows.h>

#include <string>

namespace ostrakan::cli {

namespace {

// A UTF-8 name for the wide API, so that any name works whatever the ANSI code page.
std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

// The system's words for an error, in English where it has them, as UTF-8.
std::string reason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = "error " + std::to_string(error);
    if (n > 0 && text) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), size, nullptr, nullptr);
        while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == '.')) utf8.pop_back();
        words = utf8;
    }
    if (text) LocalFree(text);
    return words;
}

}  // namespace

bool readInputFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* why) {
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = path + " is a folder, not a file";
        return false;
    }
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot read " + path + ": " + reason(GetLastError());
        return false;
    }
    bool ok = true;
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *why = path + " is a device or other special file, not a regular file";
        ok = false;
    } else if (!GetFileSizeEx(file, &size)) {
        *why = "cannot read " + path + ": " + reason(GetLastError());
        ok = false;
    } else if (static_cast<unsigned long long>(size.QuadPart) > limit) {
        *why = path + " is larger than " + std::to_string(limit) + " bytes";
        ok = false;
    }
    bytes->clear();
    char chunk[65536];
    while (ok) {
        DWORD n = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
            *why = "cannot read " + path + ": " + reason(GetLastError());
            ok = false;
        } else if (n == 0) {
            break;
        } else if (bytes->size() + n > limit) {
            *why = path + " is larger than " + std::to_string(limit) + " bytes";
            ok = false;
        } else {
            bytes->append(chunk, n);
        }
    }
    CloseHandle(file);
    if (!ok) bytes->clear();
    return ok;
}

bool replaceOutputFile(const std::string& path, const std::string& bytes, std::string* why) {
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "cannot write " + path + ": it is a folder";
        return false;
    }
    // Beside the file, so that MoveFileEx replaces it in one step (one volume).
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 0; n < 100 && file == INVALID_HANDLE_VALUE; ++n) {
        temp = name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n) + L".tmp";
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot create a temporary file beside " + path + ": " + reason(GetLastError());
        return false;
    }
    DWORD written = 0;
    const char* stage = nullptr;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        stage = "cannot write";
    else if (!FlushFileBuffers(file))
        stage = "cannot flush";
    DWORD error = GetLastError();
    if (!CloseHandle(file) && !stage) {
        stage = "cannot flush";
        error = GetLastError();
    }
    if (!stage && !MoveFileExW(temp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        stage = "cannot rename the new file over";
        error = GetLastError();
    }
    if (!stage) return true;
    DeleteFileW(temp.c_str());
    *why = std::string(stage) + " " + path + ": " + reason(error);
    return false;
}

}  // namespace ostrakan::cli
