// Files the tool reads whole and files it writes, with UTF-8 names on every
// platform. tools/cli/unix/files.cpp and tools/cli/windows/files.cpp define them.
#pragma once

#include <cstddef>
#include <string>

namespace ostrakan::cli {

// Reads the whole of a regular file of at most `limit` bytes into *bytes. False
// with *why a message that names the file and what is wrong: no such file, a
// folder, a device or other special file, larger than the limit, or unreadable.
// Nothing larger than the limit is ever held in memory.
bool readInputFile(const std::string& path, std::size_t limit, std::string* bytes, std::string* why);

// Puts `bytes` in the place of the file at `path` in one step: a temporary file
// beside it, written, flushed, renamed over it. A file replaced keeps its mode.
// False with *why naming the file and the stage that failed (creating, writing,
// flushing, renaming); the old file is then as it was.
bool replaceOutputFile(const std::string& path, const std::string& bytes, std::string* why);

}  // namespace ostrakan::cli
