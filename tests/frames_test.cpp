#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "app/reply_classifier.h"
#include "app/reply_flags.h"
#include "controller/frames.h"
#include "fake_line.h"

namespace ostrakan {
namespace {

using test::bytes;
using test::FakeLine;

std::string asString(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

const std::uint8_t* u8(const char* s) { return reinterpret_cast<const std::uint8_t*>(s); }

// A frame buffer with guard bytes after the largest frame.
struct FrameBuffer {
    static constexpr std::size_t kGuard = 8;
    std::uint8_t bytes[kFrameBufferSize + kGuard];
    FrameBuffer() { std::memset(bytes, 0xEE, sizeof bytes); }
    bool untouchedFrom(std::size_t from) const {
        for (std::size_t i = from; i < sizeof bytes; ++i)
            if (bytes[i] != 0xEE) return false;
        return true;
    }
};

TEST(Frames, ReadRequestForEverySelector) {
    const struct {
        std::uint8_t selector;
        int expected;
    } cases[] = {{kSelectPeriod, 0x41},  {kSelectAddress, 0x40},  {kSelectPhone1, 0x30},
                 {kSelectPhone2, 0x31},  {kSelectSmsPhone, 0x32}, {kSelectChannels, 0x42}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        FrameBuffer f;
        ASSERT_EQ(buildReadRequest(c.selector, f.bytes), 12u);
        EXPECT_EQ(asString(f.bytes, 12),
                  bytes({0x0A, 0x21, 0xAA, 0x4E, c.expected, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_TRUE(f.untouchedFrom(12));
    }
}

TEST(Frames, ValueWritesOnTheLine) {
    const struct {
        const char* name;
        std::uint8_t kind;
        const char* text;
        std::string line;
    } cases[] = {
        {"period 120", kKindPeriod, "120",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x32, 0x31, 0x32, 0x30})},
        {"address 007", kKindAddress, "007",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x31, 0x30, 0x30, 0x37})},
        {"address 300 is sent as typed", kKindAddress, "300",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x31, 0x33, 0x30, 0x30})},
        {"period 999", kKindPeriod, "999",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x32, 0x39, 0x39, 0x39})},
        {"period 000", kKindPeriod, "000",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x32, 0x30, 0x30, 0x30})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBuffer f;
        ASSERT_EQ(buildValueWrite(c.kind, u8(c.text), 3, f.bytes), 12u);
        EXPECT_EQ(asString(f.bytes, 12), c.line);
        EXPECT_TRUE(f.untouchedFrom(12));
    }
}

TEST(Frames, ValueWriteRefusesAnythingButThreeDigits) {
    const std::string refused[] = {"12", "0012", "1a2", "", "12 ", " 12", "/00", ":00", "00:",
                                   std::string("1\0" "2", 3), "-12"};
    for (const std::string& text : refused) {
        SCOPED_TRACE(::testing::PrintToString(text));
        for (std::uint8_t kind : {kKindPeriod, kKindAddress}) {
            FrameBuffer f;
            EXPECT_EQ(buildValueWrite(kind, u8(text.c_str()), text.size(), f.bytes), 0u);
            EXPECT_TRUE(f.untouchedFrom(0));
        }
    }
}

TEST(Frames, PhoneWritesOnTheLine) {
    const struct {
        const char* name;
        std::uint8_t slot;
        std::string text;
        std::string line;
    } cases[] = {
        {"phone 2 89", kSlotPhone2, "89",
         bytes({0x0A, 0x21, 0xAA, 0x31, 0x41, 0x54, 0x44, 0x50, 0x38, 0x39, 0x0D, 0x0A})},
        {"empty phone 1", kSlotPhone1, "",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, 0x0D, 0x0A})},
        {"empty phone 2", kSlotPhone2, "",
         bytes({0x0A, 0x21, 0xAA, 0x31, 0x41, 0x54, 0x44, 0x50, 0x0D, 0x0A})},
        {"empty SMS phone", kSlotSmsPhone, "",
         bytes({0x0A, 0x21, 0xAA, 0x32, 0x41, 0x54, 0x44, 0x50, 0x0D, 0x0A})},
        {"text sent as typed", kSlotSmsPhone, "+7 \xC0",
         bytes({0x0A, 0x21, 0xAA, 0x32, 0x41, 0x54, 0x44, 0x50, '+', '7', ' ', 0xC0, 0x0D, 0x0A})},
        {"18 digits", kSlotPhone1, "898765432101234567",
         bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50}) + "898765432101234567\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBuffer f;
        const std::size_t n = buildPhoneWrite(c.slot, u8(c.text.data()), c.text.size(), f.bytes);
        ASSERT_EQ(n, 10 + c.text.size());
        EXPECT_EQ(asString(f.bytes, n), c.line);
        EXPECT_TRUE(f.untouchedFrom(n));
    }
}

TEST(Frames, PhoneWriteRefusesMoreThanEighteenBytes) {
    for (std::size_t n : {19u, 20u, 255u}) {
        SCOPED_TRACE(n);
        const std::string text(n, '8');
        FrameBuffer f;
        EXPECT_EQ(buildPhoneWrite(kSlotPhone1, u8(text.data()), n, f.bytes), 0u);
        EXPECT_TRUE(f.untouchedFrom(0));
    }
}

TEST(Frames, ChannelWrite) {
    std::uint8_t channels[kChannelCount] = {};
    channels[0] = kChannelA;
    channels[30] = kChannelBx;
    FrameBuffer f;
    ASSERT_EQ(buildChannelWrite(channels, f.bytes), 35u);
    std::string expected = bytes({0x0A, 0x21, 0xAA, 0x42, 0x01});
    expected += std::string(29, '\0');
    expected += bytes({0x04});
    EXPECT_EQ(asString(f.bytes, 35), expected);
    EXPECT_TRUE(f.untouchedFrom(35));

    for (std::size_t k = 0; k < kChannelCount; ++k)
        channels[k] = static_cast<std::uint8_t>(kChannelA | kChannelT | kChannelBx);
    ASSERT_EQ(buildChannelWrite(channels, f.bytes), 35u);
    for (std::size_t k = 0; k < kChannelCount; ++k) EXPECT_EQ(f.bytes[4 + k], 0x07) << k;
}

TEST(Frames, PutFrameWritesCountThenBytes) {
    LinkBuffers link;
    std::memset(link.transmitBuffer, 0xEE, sizeof link.transmitBuffer);
    FrameBuffer f;
    const std::size_t n = buildPhoneWrite(kSlotPhone2, u8("89"), 2, f.bytes);
    putFrame(link, f.bytes, n);
    EXPECT_EQ(link.transmitBuffer[0], 12);
    EXPECT_EQ(asString(link.transmitBuffer + 1, 12),
              bytes({0x0A, 0x21, 0xAA, 0x31, 0x41, 0x54, 0x44, 0x50, 0x38, 0x39, 0x0D, 0x0A}));
    EXPECT_EQ(link.transmitBuffer[13], 0xEE);

    std::uint8_t channels[kChannelCount] = {};
    const std::size_t m = buildChannelWrite(channels, f.bytes);
    putFrame(link, f.bytes, m);
    EXPECT_EQ(link.transmitBuffer[0], 0x23);
    EXPECT_EQ(asString(link.transmitBuffer + 1, 4), bytes({0x0A, 0x21, 0xAA, 0x42}));
}

TEST(Frames, ValueToDigits) {
    const struct {
        std::uint8_t value;
        const char* digits;
    } cases[] = {{0, "000"}, {7, "007"}, {10, "010"}, {99, "099"}, {100, "100"}, {255, "255"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.value});
        std::uint8_t out[5];
        std::memset(out, 0xEE, sizeof out);
        valueToDigits(c.value, out);
        EXPECT_EQ(asString(out, 3), c.digits);
        EXPECT_EQ(out[3], 0xEE);
    }
}

// Delivers a burst and lets the classifier end it, as the gap timer would.
class FrameReplyTest : public ::testing::Test {
protected:
    void deliver(const std::string& burst) {
        line.receive(burst);
        classifyReply(link, line, flags, ClassifierTargets{ip, apn, user});
    }
    LinkBuffers link;
    FakeLine line{link};
    std::uint8_t flags = 0;
    TextField ip, apn, user;
};

TEST_F(FrameReplyTest, ValueReplyNeedsTheByteAtOffsetFour) {
    const struct {
        std::string burst;
        bool taken;
        std::uint8_t value;
    } cases[] = {
        {bytes({0x0A, 0x21, 0xAA, 0x00, 0x00}), true, 0},
        {bytes({0x0A, 0x21, 0xAA, 0x00, 0xFF}), true, 255},
        {bytes({0x0A, 0x21, 0xAA, 0x4E, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), true, 7},
        {bytes({0x0A, 0x21, 0xAA, 0x00}), false, 0},
        {bytes({0x0A, 0x21, 0xAA}), false, 0},
        {"", false, 0},
    };
    // A long earlier burst leaves a stale byte at offset 4.
    deliver(bytes({0x0A, 0x21, 0xAA, 0x00, 0x63, 0x11, 0x22}));
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.burst));
        deliver(c.burst);
        std::uint8_t value = 0x5A;
        ASSERT_EQ(decodeValueReply(link, &value), c.taken);
        EXPECT_EQ(value, c.taken ? c.value : 0x5A);
        deliver(bytes({0x0A, 0x21, 0xAA, 0x00, 0x63, 0x11, 0x22}));
    }
}

TEST_F(FrameReplyTest, PhoneReplies) {
    const struct {
        const char* name;
        std::string burst;
        bool taken;
        std::string number;
    } cases[] = {
        {"eleven digits then CR LF", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "89161234567\r\n",
         true, "89161234567"},
        {"ends at LF", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "8916\n123", true, "8916"},
        {"ends at zero", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + std::string("89\0" "77", 5),
         true, "89"},
        {"ends with the burst", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "8", true, "8"},
        {"empty number", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "\r\n", true, ""},
        {"exactly seven bytes", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}), true, ""},
        {"18 digits", bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "898765432101234567\r\n", true,
         "898765432101234567"},
        {"CR inside the skipped bytes", bytes({0x0A, 0x21, 0xAA, 1, 0x0D, 3, 4}) + "89\r\n", false,
         ""},
        {"zero inside the skipped bytes", bytes({0x0A, 0x21, 0xAA, 0, 0, 0, 0}) + "89\r\n", false,
         ""},
        {"six bytes", bytes({0x0A, 0x21, 0xAA, 1, 2, 3}), false, ""},
        {"head only", bytes({0x0A, 0x21, 0xAA}), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An earlier burst leaves digits in the buffer past the new one's end.
        deliver(bytes({0x0A, 0x21, 0xAA, 9, 9, 9, 9}) + "99999999999999999999999");
        deliver(c.burst);
        const std::uint8_t* number = nullptr;
        std::size_t length = 999;
        ASSERT_EQ(decodePhoneReply(link, &number, &length), c.taken);
        if (c.taken) {
            EXPECT_EQ(number, link.receiveBuffer + 7);
            EXPECT_EQ(asString(number, length), c.number);
        } else {
            EXPECT_EQ(length, 999u);
        }
    }
}

TEST_F(FrameReplyTest, PhoneDecoderTouchesOnlyTheBurst) {
    // Stale CR LF past the burst must stay as it was.
    deliver(bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "8900000000\r\n");
    deliver(bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4}) + "89\r\n");
    const std::uint8_t* number = nullptr;
    std::size_t length = 0;
    ASSERT_TRUE(decodePhoneReply(link, &number, &length));
    EXPECT_EQ(asString(number, length), "89");
    // The burst's own line end is zeroed, byte 0 (the head's LF) is not.
    EXPECT_EQ(asString(link.receiveBuffer, 19),
              bytes({0x0A, 0x21, 0xAA, 1, 2, 3, 4, '8', '9', 0, 0, '0', '0', '0', '0', '0', '0',
                     0x0D, 0x0A}));
}

TEST_F(FrameReplyTest, ChannelReplyCarriesWhatTheBurstHolds) {
    std::string full = bytes({0x0A, 0x21, 0xAA, 0x00});
    for (int k = 1; k <= 31; ++k) full.push_back(static_cast<char>(k == 1 ? 0x05 : k == 2 ? 0xF8 : k));
    const struct {
        std::size_t burstLength;
        std::size_t channels;
    } cases[] = {{35, 31}, {40, 31}, {34, 30}, {5, 1}, {4, 0}, {3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.burstLength);
        deliver(std::string(40, '\x77'));  // stale bytes past every burst below
        std::string burst = full + std::string(5, '\x66');
        deliver(burst.substr(0, c.burstLength));
        std::uint8_t channels[kChannelCount + 4];
        std::memset(channels, 0xEE, sizeof channels);
        ASSERT_EQ(decodeChannelReply(link, channels), c.channels);
        for (std::size_t k = 0; k < c.channels; ++k)
            EXPECT_EQ(channels[k], static_cast<std::uint8_t>(full[4 + k])) << k;
        for (std::size_t k = c.channels; k < sizeof channels; ++k)
            EXPECT_EQ(channels[k], 0xEE) << k;
    }
}

TEST_F(FrameReplyTest, AnyFrameBurstSatisfiesWhicheverReadWaits) {
    // A period reply decoded by an address read: no request matching is done.
    deliver(bytes({0x0A, 0x21, 0xAA, 0x4E, 0x2A, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(flags, kFrameBit);
    std::uint8_t value = 0;
    ASSERT_TRUE(decodeValueReply(link, &value));
    std::uint8_t digits[3];
    valueToDigits(value, digits);
    EXPECT_EQ(asString(digits, 3), "042");
}

}  // namespace
}  // namespace ostrakan
