#include "settings/replace_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <initializer_list>
#include <string>

namespace ostrakan {

namespace {

// How long a replace refused because someone holds the file is tried again:
// antivirus scanners, the search indexer and OneDrive open a file that has just
// changed for a moment.
constexpr DWORD kRetryMs = 1000;
constexpr DWORD kRetryPauseMs = 50;

// The name as UTF-16: UTF-8 when it is that, else the ANSI code page's bytes.
std::wstring wide(const char* name) {
    for (UINT page : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = MultiByteToWideChar(page, flags, name, -1, nullptr, 0);
        if (n <= 0) continue;
        std::wstring text(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(page, flags, name, -1, text.data(), n);
        text.resize(static_cast<std::size_t>(n - 1));
        return text;
    }
    return {};
}

// The folder of `name`, where the temporary file must be for a one-step replace.
std::wstring folderOf(const std::wstring& name) {
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return L".";
    return slash == 0 ? name.substr(0, 1) : name.substr(0, slash);
}

}  // namespace

bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count) {
    const std::wstring target = wide(name);
    if (target.empty()) return false;
    // A unique name beside the target: MoveFileEx replaces in one step only
    // within one volume. GetTempFileNameW creates the file empty.
    wchar_t temp[MAX_PATH];
    if (GetTempFileNameW(folderOf(target).c_str(), L"_da", 0, temp) == 0) return false;
    const HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(temp);
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) != 0 && written == count &&
              FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) != 0 && ok;
    if (ok) {
        const DWORD start = GetTickCount();
        for (;;) {
            if (MoveFileExW(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
            const DWORD error = GetLastError();
            if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
                GetTickCount() - start >= kRetryMs) {
                ok = false;
                break;
            }
            Sleep(kRetryPauseMs);
        }
    }
    if (!ok) DeleteFileW(temp);
    return ok;
}

}  // namespace ostrakan
