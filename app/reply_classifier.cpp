#include "app/reply_classifier.h"

#include <cstring>

#include "app/reply_flags.h"

namespace ostrakan {

namespace {

constexpr std::uint8_t kDq = 0x22;

struct Burst {
    const std::uint8_t* bytes;
    std::size_t length;

    bool startsWith(const char* shape, std::size_t n) const {
        return n <= length && std::memcmp(bytes, shape, n) == 0;
    }
};

// Literal with its length, since shapes are binary-safe byte strings.
#define SHAPE(s) s, sizeof(s) - 1

const char kUserKey[] = "^SICS: 0,\"user\",\"";
const char kApnKey[] = "^SICS: 0,\"apn\",\"";
const char kAddressKey[] = "^SISS: 9,\"address\",\"";

// Finds the first key in the burst and the quoted value after it. Returns false
// when the key is absent, or its value runs past the end of the burst.
bool findValue(const Burst& burst, const char* key, std::size_t keyLength,
               const std::uint8_t** value, std::size_t* valueLength) {
    if (burst.length < keyLength) return false;
    for (std::size_t i = 0; i + keyLength <= burst.length; ++i) {
        if (std::memcmp(burst.bytes + i, key, keyLength) != 0) continue;
        const std::uint8_t* start = burst.bytes + i + keyLength;
        const std::size_t room = burst.length - i - keyLength;
        const void* quote = std::memchr(start, kDq, room);
        if (!quote) return false;
        *value = start;
        *valueLength = static_cast<std::size_t>(static_cast<const std::uint8_t*>(quote) - start);
        return true;
    }
    return false;
}

void takeValue(const Burst& burst, const char* key, std::size_t keyLength, TextField& field) {
    const std::uint8_t* value = nullptr;
    std::size_t n = 0;
    if (!findValue(burst, key, keyLength, &value, &n) || n == 0) return;
    field.showBytes(value, n);
}

// The address the setup writes is "socktcp://" + address + ":65534"; the reply
// gives it back, so the prefix and the port are cut. A value ending in '0' loses
// 16 characters more.
void takeAddress(const Burst& burst, TextField& field) {
    constexpr std::size_t kPrefix = 10;  // "socktcp://"
    const std::uint8_t* value = nullptr;
    std::size_t n = 0;
    if (!findValue(burst, SHAPE(kAddressKey), &value, &n) || n == 0) return;
    const std::size_t cut = value[n - 1] == '0' ? 32 : 16;
    if (n < cut) return;  // too short for the cut: leave the field as it is
    field.showBytes(value + kPrefix, n - cut);
}

std::uint8_t classify(const Burst& b, const ClassifierTargets& targets) {
    if (b.startsWith(SHAPE("\x0A\x21\xAA"))) return kFrameBit;
    if (b.startsWith(SHAPE("\r\n\r\nOK\r\n"))) return kBlankLineOkBit;
    if (b.startsWith(SHAPE("\r\nOK\r\n"))) return kOkBit;
    if (b.startsWith(SHAPE("\r\nERROR\r\n"))) return kErrorBit;
    if (b.startsWith(SHAPE("\r\n^SICS:"))) {
        takeValue(b, SHAPE(kUserKey), targets.user);
        takeValue(b, SHAPE(kApnKey), targets.apn);
        return kSicsBit;
    }
    if (b.startsWith(SHAPE("\r\n^SISS:"))) {
        takeAddress(b, targets.ipAddress);
        return kSissBit;
    }
    if (b.startsWith(SHAPE("ATE0\r\r\nOK\r\n"))) return kOkBit;
    return 0;
}

}  // namespace

void classifyReply(LinkBuffers& link, Line& line, std::uint8_t& replyFlags,
                   const ClassifierTargets& targets) {
    line.stopGapTimer();
    link.gapTimerRunning.store(0, std::memory_order_release);
    const Burst burst{link.receiveBuffer, link.burstLength()};
    replyFlags |= classify(burst, targets);
    // The controller procedures decode their reply from this burst on a later tick.
    link.replyLength = static_cast<std::uint32_t>(burst.length);
    link.receiveLength.store(0, std::memory_order_release);
}

}  // namespace ostrakan
