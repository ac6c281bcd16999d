#include "settings/settings_file.h"

#include <cstdio>

#include "settings/replace_file.h"

namespace ostrakan {

namespace {
constexpr int kCr = 0x0D;
constexpr int kLf = 0x0A;
constexpr int kEndOfFile = 0x1A;  // Ctrl-Z ends a text-mode read
}  // namespace

int writeSettingsFile(const std::uint8_t* data, std::uint8_t count) {
    // Binary everywhere, with our own LF -> CR LF translation, so the file's bytes
    // do not depend on the C library's idea of text mode.
    std::uint8_t disk[2 * 255];
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (data[i] == kLf) disk[n++] = kCr;
        disk[n++] = data[i];
    }
    return replaceFile(kSettingsFileName, disk, n) ? 0 : 1;
}

int readSettingsFile(std::uint8_t* buffer, std::size_t* count) {
    std::FILE* file = std::fopen(kSettingsFileName, "rb");
    if (!file) return 1;
    std::size_t n = 0;
    int c = std::fgetc(file);
    while (n < kSettingsReadSize && c != EOF && c != kEndOfFile) {
        int next = std::fgetc(file);
        if (c == kCr && next == kLf) {  // CR LF is one LF
            c = kLf;
            next = std::fgetc(file);
        }
        buffer[n++] = static_cast<std::uint8_t>(c);
        c = next;
    }
    std::fclose(file);
    *count = n;
    return 0;
}

}  // namespace ostrakan
