#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "modem/commands.h"

namespace ostrakan {
namespace {

std::string asString(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

const std::uint8_t* u8(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// The whole table as the modem must receive it.
const char* const kExpectedTable[kModemCommandCount] = {
    "+++\r\n",
    "ATE0\r\n",
    "AT^SICS?\r\n",
    "AT^SICS=0,\"conType\",\"GPRS0\"\r\n",
    "AT^SICS=0,\"apn\",\"\"\r\n",
    "AT^SICS=0,\"user\",\"\"\r\n",
    "AT^SICS=0,\"passwd\",\"\"\r\n",
    "AT^SIPS=connection,save,0\r\n",
    "AT^SIPS=service,load,0\r\n",
    "AT^SIPS=service,load,9\r\n",
    "AT^SISS?\r\n",
    "AT^SISS=0,\"srvType\",\"Socket\"\r\n",
    "AT^SISS=0,\"address\",\"socktcp://listener:65534\"\r\n",
    "AT^SIPS=service,save,0\r\n",
    "AT^SISS=9,\"srvType\",\"Socket\"\r\n",
    "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n",
    "AT^SIPS=service,save,9\r\n",
    "AT^SIPS=all,reset,0\r\n",
    "AT^SIPS=all,save,0\r\n",
    "AT^SIPS=all,reset,1\r\n",
    "AT^SIPS=all,save,1\r\n",
    "AT^SIPS=all,reset,2\r\n",
    "AT^SIPS=all,save,2\r\n",
    "AT^SIPS=all,reset,3\r\n",
    "AT^SIPS=all,save,3\r\n",
    "AT^SIPS=all,reset,4\r\n",
    "AT^SIPS=all,save,4\r\n",
    "AT^SIPS=all,reset,5\r\n",
    "AT^SIPS=all,save,5\r\n",
    "AT^SIPS=service,reset,6\r\n",
    "AT^SIPS=service,save,6\r\n",
    "AT^SIPS=service,reset,7\r\n",
    "AT^SIPS=service,save,7\r\n",
    "AT^SIPS=service,reset,8\r\n",
    "AT^SIPS=service,save,8\r\n",
    "AT^SIPS=service,reset,9\r\n",
    "AT+CMGF=1\r\n",
    "AT&D0\r\n",
    "AT&W\r\n",
};

// Counts from the command table, independent of the texts above.
const int kExpectedCount[kModemCommandCount] = {5,  6,  10, 29, 20, 21, 23, 27, 24, 24,
                                                10, 30, 48, 24, 30, 41, 24, 21, 20, 21,
                                                20, 21, 20, 21, 20, 21, 20, 21, 20, 25,
                                                24, 25, 24, 25, 24, 25, 11, 7,  6};

TEST(ModemCommands, EveryEntryIsCountedAndEndsInCrLf) {
    for (int k = 0; k < kModemCommandCount; ++k) {
        SCOPED_TRACE(k);
        const CountedCommand& c = modemCommand(k);
        EXPECT_EQ(c.count, kExpectedCount[k]);
        EXPECT_EQ(c.count, std::strlen(c.text));
        EXPECT_EQ(std::string(c.text), kExpectedTable[k]);
        ASSERT_GE(c.count, 2);
        EXPECT_EQ(c.text[c.count - 2], '\r');
        EXPECT_EQ(c.text[c.count - 1], '\n');
    }
}

TEST(ModemCommands, PutModemCommandCopiesCountCharactersAndNul) {
    for (int k = 0; k < kModemCommandCount; ++k) {
        SCOPED_TRACE(k);
        LinkBuffers link;
        std::memset(link.transmitBuffer, 0xEE, sizeof link.transmitBuffer);
        putModemCommand(link, k);
        const std::size_t n = std::strlen(kExpectedTable[k]);
        EXPECT_EQ(link.transmitBuffer[0], n);
        EXPECT_EQ(asString(link.transmitBuffer + 1, n), kExpectedTable[k]);
        EXPECT_EQ(link.transmitBuffer[1 + n], 0);
        EXPECT_EQ(link.transmitBuffer[2 + n], 0xEE);
    }
}

TEST(ModemCommands, FieldTextLimits) {
    EXPECT_EQ(fieldTextLimit(kEntryApn), 78u);
    EXPECT_EQ(fieldTextLimit(kEntryUser), 77u);
    EXPECT_EQ(fieldTextLimit(kEntryPassword), 75u);
    EXPECT_EQ(fieldTextLimit(kEntryAddress9), 58u);
    for (int k : {0, 1, 3, 7, 12, 14, 16, 38}) EXPECT_EQ(fieldTextLimit(k), 0u) << k;
}

struct FieldCase {
    const char* name;
    int entry;
    std::string text;
    std::string command;  // the characters after the count byte, without the NUL
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

class FieldCommand : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldCommand, BuildsCountCharactersAndNul) {
    const FieldCase& c = GetParam();
    std::uint8_t buffer[kCommandBufferSize + 8];
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_TRUE(buildFieldCommand(c.entry, u8(c.text), c.text.size(), buffer));
    const std::size_t n = c.command.size();
    EXPECT_EQ(buffer[0], n);
    EXPECT_EQ(asString(buffer + 1, n), c.command);
    EXPECT_EQ(buffer[1 + n], 0);
    for (std::size_t i = kCommandBufferSize; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], 0xEE) << "written past the command buffer at " << i;

    // What reaches the transmit buffer is the same counted command.
    LinkBuffers link;
    std::memset(link.transmitBuffer, 0xEE, sizeof link.transmitBuffer);
    putCommandBuffer(link, buffer);
    EXPECT_EQ(link.transmitBuffer[0], n);
    EXPECT_EQ(asString(link.transmitBuffer + 1, n), c.command);
    EXPECT_EQ(link.transmitBuffer[1 + n], 0);
    EXPECT_EQ(link.transmitBuffer[2 + n], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FieldCommand,
    ::testing::Values(
        FieldCase{"EmptyIpIsTheUnchangedEntry", kEntryAddress9, "",
                  "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n"},
        FieldCase{"Ip", kEntryAddress9, "10.1.2.3",
                  "AT^SISS=9,\"address\",\"socktcp://10.1.2.3:65534\"\r\n"},
        FieldCase{"EmptyApn", kEntryApn, "", "AT^SICS=0,\"apn\",\"\"\r\n"},
        FieldCase{"EmptyUser", kEntryUser, "", "AT^SICS=0,\"user\",\"\"\r\n"},
        FieldCase{"EmptyPassword", kEntryPassword, "", "AT^SICS=0,\"passwd\",\"\"\r\n"},
        FieldCase{"ApnOfNine", kEntryApn, "internet.", "AT^SICS=0,\"apn\",\"internet.\"\r\n"},
        FieldCase{"SpacesKept", kEntryUser, "  me  ", "AT^SICS=0,\"user\",\"  me  \"\r\n"},
        FieldCase{"QuoteAndCommaUnchanged", kEntryPassword, "a\"b,c\r",
                  "AT^SICS=0,\"passwd\",\"a\"b,c\r\"\r\n"},
        FieldCase{"Cp1251Bytes", kEntryApn, "\xE0\xEF\xED", "AT^SICS=0,\"apn\",\"\xE0\xEF\xED\"\r\n"},
        FieldCase{"SpaceAsIp", kEntryAddress9, " ",
                  "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n"},
        FieldCase{"LongestApn", kEntryApn, std::string(78, 'a'),
                  "AT^SICS=0,\"apn\",\"" + std::string(78, 'a') + "\"\r\n"},
        FieldCase{"LongestUser", kEntryUser, std::string(77, 'u'),
                  "AT^SICS=0,\"user\",\"" + std::string(77, 'u') + "\"\r\n"},
        FieldCase{"LongestPassword", kEntryPassword, std::string(75, 'p'),
                  "AT^SICS=0,\"passwd\",\"" + std::string(75, 'p') + "\"\r\n"},
        FieldCase{"LongestIp", kEntryAddress9, std::string(58, '1'),
                  "AT^SISS=9,\"address\",\"socktcp://" + std::string(58, '1') + ":65534\"\r\n"}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

TEST(ModemCommands, FieldCommandCountIsBasePlusTextLength) {
    const struct {
        int entry;
        std::size_t base;
    } entries[] = {{kEntryApn, 20}, {kEntryUser, 21}, {kEntryPassword, 23}, {kEntryAddress9, 40}};
    for (const auto& e : entries) {
        for (std::size_t n = 1; n <= fieldTextLimit(e.entry); ++n) {
            SCOPED_TRACE(testing::Message() << "entry " << e.entry << " n " << n);
            const std::string text(n, 'x');
            std::uint8_t buffer[kCommandBufferSize];
            ASSERT_TRUE(buildFieldCommand(e.entry, u8(text), n, buffer));
            EXPECT_EQ(buffer[0], e.base + n);
        }
    }
    // The worked examples.
    std::uint8_t buffer[kCommandBufferSize];
    ASSERT_TRUE(buildFieldCommand(kEntryApn, u8(std::string("123456789")), 9, buffer));
    EXPECT_EQ(buffer[0], 29);
    EXPECT_EQ(asString(buffer + 1 + 29 - 12, 12), "123456789\"\r\n");
    ASSERT_TRUE(buildFieldCommand(kEntryUser, u8(std::string(77, 'u')), 77, buffer));
    EXPECT_EQ(buffer[0], 98);
}

TEST(ModemCommands, FieldTextOverTheLimitIsRefusedAndBufferUntouched) {
    const struct {
        int entry;
        std::size_t length;
    } cases[] = {{kEntryApn, 79},      {kEntryUser, 78},      {kEntryPassword, 76},
                 {kEntryAddress9, 59}, {kEntryApn, 255},      {kEntryAddress9, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "entry " << c.entry << " length " << c.length);
        const std::string text(c.length, 'z');
        std::uint8_t buffer[kCommandBufferSize];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_FALSE(buildFieldCommand(c.entry, u8(text), c.length, buffer));
        for (std::uint8_t b : buffer) ASSERT_EQ(b, 0xEE);
    }
}

TEST(ModemCommands, OnlyTheFourTemplatesBuildFieldCommands) {
    for (int k = 0; k < kModemCommandCount; ++k) {
        if (k == kEntryApn || k == kEntryUser || k == kEntryPassword || k == kEntryAddress9)
            continue;
        SCOPED_TRACE(k);
        std::uint8_t buffer[kCommandBufferSize];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_FALSE(buildFieldCommand(k, u8(std::string("x")), 1, buffer));
        EXPECT_EQ(buffer[0], 0xEE);
    }
}

}  // namespace
}  // namespace ostrakan
