// The POSIX one-step replace for any path, which replaceFile ("_data.ini" in the
// current folder) is one use of; ostrakan-cli's output files are another.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace ostrakan {

// The stage at which a replace failed.
enum class ReplaceStage { Done, Open, Write, Flush, Rename };

// Writes `count` bytes to a new temporary file beside `path` (same folder, so
// the rename is one step), with `mode`, flushes it to the disk and renames it
// over `path`, then flushes the folder. On failure the old file is as it was,
// no temporary file is left, and *error (when given) holds errno.
ReplaceStage replacePath(const char* path, const std::uint8_t* bytes, std::size_t count, mode_t mode, int* error);

}  // namespace ostrakan
