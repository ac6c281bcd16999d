#include "controller/frames.h"

#include <cstring>

namespace ostrakan {

namespace {
constexpr std::uint8_t kRead = 0x4E;                                       // 'N'
constexpr std::uint8_t kWriteTail[4] = {0x41, 0x54, 0x44, 0x50};           // "ATDP"
constexpr std::uint8_t kValueWritePrefix = 0x30;                           // '0'
constexpr std::uint8_t kChannelWrite = 0x42;                               // 'B'
constexpr std::size_t kValueOffset = 4;
constexpr std::size_t kNumberOffset = 7;
constexpr std::size_t kChannelOffset = 4;

std::uint8_t* putHead(std::uint8_t* frame) {
    std::memcpy(frame, kFrameHead, sizeof kFrameHead);
    return frame + sizeof kFrameHead;
}
}  // namespace

std::size_t buildReadRequest(std::uint8_t selector, std::uint8_t* frame) {
    std::uint8_t* p = putHead(frame);
    *p++ = kRead;
    *p++ = selector;
    std::memset(p, 0, 7);
    return kReadRequestSize;
}

bool isValueText(const std::uint8_t* text, std::size_t length) {
    if (length != 3) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

std::size_t buildValueWrite(std::uint8_t kind, const std::uint8_t* text, std::size_t length,
                            std::uint8_t* frame) {
    if (!isValueText(text, length)) return 0;
    std::uint8_t* p = putHead(frame);
    *p++ = kValueWritePrefix;
    std::memcpy(p, kWriteTail, sizeof kWriteTail);
    p += sizeof kWriteTail;
    *p++ = kind;
    std::memcpy(p, text, 3);
    return kValueWriteSize;
}

std::size_t buildPhoneWrite(std::uint8_t slot, const std::uint8_t* text, std::size_t length,
                            std::uint8_t* frame) {
    // A cut number would be a wrong number stored in the controller.
    if (length > kMaxPhoneDigits) return 0;
    std::uint8_t* p = putHead(frame);
    *p++ = slot;
    std::memcpy(p, kWriteTail, sizeof kWriteTail);
    p += sizeof kWriteTail;
    if (length) std::memcpy(p, text, length);
    p += length;
    *p++ = 0x0D;
    *p++ = 0x0A;
    return static_cast<std::size_t>(p - frame);
}

std::size_t buildChannelWrite(const std::uint8_t* channelBytes, std::uint8_t* frame) {
    std::uint8_t* p = putHead(frame);
    *p++ = kChannelWrite;
    std::memcpy(p, channelBytes, kChannelCount);
    return kChannelWriteSize;
}

void putFrame(LinkBuffers& link, const std::uint8_t* frame, std::size_t size) {
    link.transmitBuffer[0] = static_cast<std::uint8_t>(size);
    std::memcpy(link.transmitBuffer + 1, frame, size);
}

void valueToDigits(std::uint8_t value, std::uint8_t* digits) {
    digits[0] = static_cast<std::uint8_t>('0' + value / 100);
    digits[1] = static_cast<std::uint8_t>('0' + (value / 10) % 10);
    digits[2] = static_cast<std::uint8_t>('0' + value % 10);
}

bool decodeValueReply(const LinkBuffers& link, std::uint8_t* value) {
    if (link.classifiedLength() <= kValueOffset) return false;
    *value = link.receiveBuffer[kValueOffset];
    return true;
}

bool decodePhoneReply(LinkBuffers& link, const std::uint8_t** number, std::size_t* length) {
    std::uint8_t* buffer = link.receiveBuffer;
    const std::size_t burst = link.classifiedLength();
    // The reply's text runs to its first zero byte, within the burst.
    const void* zero = std::memchr(buffer, 0, burst);
    const std::size_t textEnd =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - buffer) : burst;
    for (std::size_t i = 2; i < textEnd; ++i)
        if (buffer[i] == 0x0D || buffer[i] == 0x0A) buffer[i] = 0;
    const void* end = std::memchr(buffer, 0, textEnd);
    const std::size_t numberEnd =
        end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - buffer) : textEnd;
    if (numberEnd < kNumberOffset) return false;
    *number = buffer + kNumberOffset;
    *length = numberEnd - kNumberOffset;
    return true;
}

std::size_t decodeChannelReply(const LinkBuffers& link, std::uint8_t* channelBytes) {
    const std::size_t burst = link.classifiedLength();
    std::size_t n = 0;
    while (n < kChannelCount && kChannelOffset + n < burst) {
        channelBytes[n] = link.receiveBuffer[kChannelOffset + n];
        ++n;
    }
    return n;
}

}  // namespace ostrakan
