// "_data.ini": the modem panel's four entries, kept in the current directory.
// The bytes on disk are the same on every platform: LF is stored as CR LF, CR LF
// reads back as LF and a 0x1A byte ends the read, as a Windows text-mode file does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrakan {

constexpr const char* kSettingsFileName = "_data.ini";
constexpr std::size_t kSettingsReadSize = 100;

// Replaces the file with `count` bytes in one step (settings/replace_file.h).
// 0 on success; 1 if any part of the write failed, the old file then unchanged.
int writeSettingsFile(const std::uint8_t* data, std::uint8_t count);

// Reads at most 100 bytes (after line-end translation) into buffer. 0 on success with
// *count set; 1 if the file could not be opened (*count untouched).
int readSettingsFile(std::uint8_t* buffer, std::size_t* count);

}  // namespace ostrakan
