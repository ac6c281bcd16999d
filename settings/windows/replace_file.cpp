#include "settings/replace_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace ostrakan {

bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count) {
    // A unique name in the current folder: MoveFileEx replaces in one step only
    // within one volume. GetTempFileNameA creates the file empty.
    char temp[MAX_PATH];
    if (GetTempFileNameA(".", "_da", 0, temp) == 0) return false;
    const HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(temp);
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) != 0 &&
              written == count && FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) != 0 && ok;
    ok = ok && MoveFileExA(temp, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileA(temp);
    return ok;
}

}  // namespace ostrakan
