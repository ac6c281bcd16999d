// Controller frames: every request the program sends and the reply payloads it
// reads. A frame starts with the frame head and has no length or checksum.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/link_buffers.h"

namespace ostrakan {

constexpr std::uint8_t kFrameHead[3] = {0x0A, 0x21, 0xAA};

// Second byte of a read request (after 'N'), one per setting.
enum Selector : std::uint8_t {
    kSelectPeriod = 0x41,    // 'A'
    kSelectAddress = 0x40,   // '@'
    kSelectPhone1 = 0x30,    // '0'
    kSelectPhone2 = 0x31,    // '1'
    kSelectSmsPhone = 0x32,  // '2'
    kSelectChannels = 0x42,  // 'B'
};

// Byte after "0ATDP" in a value write.
enum ValueKind : std::uint8_t { kKindAddress = 0x31, kKindPeriod = 0x32 };
// First byte after the frame head of a phone write.
enum PhoneSlot : std::uint8_t { kSlotPhone1 = 0x30, kSlotPhone2 = 0x31, kSlotSmsPhone = 0x32 };

constexpr std::size_t kReadRequestSize = 12;
constexpr std::size_t kValueWriteSize = 12;
constexpr std::size_t kChannelWriteSize = 35;
constexpr std::size_t kChannelCount = 31;
constexpr std::size_t kMaxPhoneDigits = 18;
constexpr std::size_t kFrameBufferSize = kChannelWriteSize;

// Channel byte bits, in the order of the grid's columns.
constexpr std::uint8_t kChannelA = 0x01;
constexpr std::uint8_t kChannelT = 0x02;
constexpr std::uint8_t kChannelBx = 0x04;

// Builders write the frame (without the transmit count) and return its size,
// or 0 when the text cannot be sent.
std::size_t buildReadRequest(std::uint8_t selector, std::uint8_t* frame);
// Whether a period or address text can be sent: exactly three characters '0'..'9'.
bool isValueText(const std::uint8_t* text, std::size_t length);
// Exactly three characters '0'..'9', sent unchanged.
std::size_t buildValueWrite(std::uint8_t kind, const std::uint8_t* text, std::size_t length,
                            std::uint8_t* frame);
// 0..18 bytes of number text; longer text is refused, never cut.
std::size_t buildPhoneWrite(std::uint8_t slot, const std::uint8_t* text, std::size_t length,
                            std::uint8_t* frame);
std::size_t buildChannelWrite(const std::uint8_t* channelBytes, std::uint8_t* frame);

// Puts a frame into the transmit buffer: count byte, then the bytes.
void putFrame(LinkBuffers& link, const std::uint8_t* frame, std::size_t size);

// Three decimal digits with leading zeros: 7 -> "007".
void valueToDigits(std::uint8_t value, std::uint8_t* digits);

// Reply decoders. They read only bytes of the burst the classifier last handled.
// The value byte at offset 4; false when the burst is too short.
bool decodeValueReply(const LinkBuffers& link, std::uint8_t* value);
// The number text from offset 7 up to the first CR, LF or zero. Ends of line in
// the burst are overwritten with zeros, as the controller's number ends there.
// False when fewer than 7 bytes precede the end (the field is then left alone).
bool decodePhoneReply(LinkBuffers& link, const std::uint8_t** number, std::size_t* length);
// Channel bytes of channels 1..31 at offsets 4..34. Returns how many channels
// the burst carries (0..31); channelBytes[0..n-1] are filled.
std::size_t decodeChannelReply(const LinkBuffers& link, std::uint8_t* channelBytes);

}  // namespace ostrakan
