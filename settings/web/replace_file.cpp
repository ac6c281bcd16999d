// The settings file in the browser lives in the module's in-memory file system;
// the page copies it to the browser's persistent storage whenever it is replaced
// (settingsFileReplacements() tells it when).
#include "settings/replace_file.h"

#include <cstdio>

#include "settings/web/settings_store.h"

namespace ostrakan {

namespace {
std::uint32_t gReplacements = 0;
}

std::uint32_t settingsFileReplacements() { return gReplacements; }

bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count) {
    char temp[256];
    const int length = std::snprintf(temp, sizeof temp, "%s.new", name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temp) return false;
    std::FILE* file = std::fopen(temp, "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes, 1, count, file) == count;
    ok = std::fclose(file) == 0 && ok;
    ok = ok && std::rename(temp, name) == 0;
    if (!ok) {
        std::remove(temp);
        return false;
    }
    ++gReplacements;
    return true;
}

}  // namespace ostrakan
