// The modem command table: 39 counted commands (count byte, characters ending in
// CR LF, NUL), and the four field commands built from entries 4, 5, 6 and 15.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/link_buffers.h"

namespace ostrakan {

constexpr int kModemCommandCount = 39;
constexpr std::size_t kCommandBufferSize = 100;

// Entries the procedures name.
enum ModemEntry : std::uint8_t {
    kEntryEscape = 0,            // "+++"
    kEntryEchoOff = 1,           // "ATE0"
    kEntryQueryConnection = 2,   // "AT^SICS?"
    kEntryConType = 3,
    kEntryApn = 4,               // field command
    kEntryUser = 5,              // field command
    kEntryPassword = 6,          // field command
    kEntrySaveConnection0 = 7,
    kEntryLoadService0 = 8,
    kEntryLoadService9 = 9,
    kEntryQueryService = 10,     // "AT^SISS?"
    kEntrySrvType0 = 11,
    kEntryAddress0 = 12,
    kEntrySaveService0 = 13,
    kEntrySrvType9 = 14,
    kEntryAddress9 = 15,         // field command (IP Address)
    kEntrySaveService9 = 16,
    kEntryCmgf = 36,
    kEntryDtrIgnore = 37,
    kEntryStore = 38,
};

struct CountedCommand {
    std::uint8_t count;  // characters that follow, CR LF included
    const char* text;
};

const CountedCommand& modemCommand(int entry);

// Copies entry k, count byte to NUL, to the start of the transmit buffer.
void putModemCommand(LinkBuffers& link, int entry);

// Longest field text entry k can carry in the 100-byte command buffer
// (78 APN, 77 User, 75 Password, 58 IP Address); 0 for other entries.
std::size_t fieldTextLimit(int entry);

// Builds the field command for entry 4, 5, 6 or 15 with the text inserted
// unchanged. An empty IP Address keeps the entry's single space. Returns false,
// leaving the buffer untouched, when the text does not fit: it is never cut.
bool buildFieldCommand(int entry, const std::uint8_t* text, std::size_t length,
                       std::uint8_t* buffer /* kCommandBufferSize bytes */);

// Copies a built command buffer (count byte, characters, NUL) to the transmit buffer.
void putCommandBuffer(LinkBuffers& link, const std::uint8_t* buffer);

}  // namespace ostrakan
