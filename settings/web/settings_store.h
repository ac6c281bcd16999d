// How the browser's page learns that "_data.ini" was replaced: it keeps the
// file's bytes in the browser's persistent storage and loads them back into the
// in-memory file system before the next start-up.
#pragma once

#include <cstdint>

namespace ostrakan {

// Counts the successful replacements of a file since start-up.
std::uint32_t settingsFileReplacements();

}  // namespace ostrakan
