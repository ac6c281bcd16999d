// The one platform step of the settings file: replacing a whole file so that a
// crash or power loss leaves either the old file or the new one, never a cut one.
// Defined once per platform (settings/unix, settings/windows); CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// Writes `count` bytes, unchanged, to a new temporary file beside `name` (a name
// in the current directory), flushes it to the disk and puts it in the place of
// `name` in one step. On POSIX the file is readable and writable by its owner only
// (0600): it holds the modem password. On Windows `name` is UTF-8 (bytes that are
// not are taken in the ANSI code page), and a replace refused because another
// program holds the file for a moment is tried again for about a second. False
// on any failure, with the old file left as it was and no temporary file behind.
bool replaceFile(const char* name, const std::uint8_t* bytes, std::size_t count);

}  // namespace ostrakan
