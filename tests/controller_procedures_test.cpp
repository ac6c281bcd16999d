// The parameter and channel procedures, driven tick by tick.
#include <gtest/gtest.h>

#include "app/reply_flags.h"
#include "resources/resource.h"
#include "rig.h"

namespace ostrakan::test {
namespace {

const std::string kHead = bytes({0x0A, 0x21, 0xAA});

std::string valueReply(int value) {
    return kHead + bytes({'A', value}) + std::string(7, '\x00');
}

std::string phoneReply(const std::string& number) {
    return kHead + "N0OK" + number + "\r\n";
}

struct ReadCase {
    const char* name;
    int button;
    Request request;
    int field;
    std::string request12;  // bytes on the line
    std::string reply;
    std::string shown;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ParameterReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ParameterReadTest, SendsItsRequestOnTheNextTickAndShowsTheReply) {
    const ReadCase& c = GetParam();
    Rig rig;
    rig.start();
    rig.core.tickCounter = 1000;
    rig.click(c.button);
    rig.tick();  // t: step 0 -> 1, nothing sent
    EXPECT_TRUE(rig.line.sent.empty());
    rig.tick();  // t+1: sent
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(rig.line.sent[0].tick, 1001u);
    EXPECT_EQ(rig.line.sent[0].bytes, c.request12);
    rig.ticks(3);
    rig.reply(c.reply);
    rig.tick();  // takes the reply
    EXPECT_EQ(rig.parameter(c.field), c.shown);
    EXPECT_TRUE(rig.core.requests.isSet(c.request));
    rig.tick();  // step 3 clears the flag
    EXPECT_FALSE(rig.core.requests.isSet(c.request));
}

INSTANTIATE_TEST_SUITE_P(
    AllReads, ParameterReadTest,
    ::testing::Values(
        ReadCase{"period", 3144, kReadPeriod, 0, kHead + bytes({0x4E, 0x41, 0, 0, 0, 0, 0, 0, 0}),
                 valueReply(7), "007"},
        ReadCase{"periodMax", 3144, kReadPeriod, 0,
                 kHead + bytes({0x4E, 0x41, 0, 0, 0, 0, 0, 0, 0}), valueReply(0xFF), "255"},
        ReadCase{"periodZero", 3144, kReadPeriod, 0,
                 kHead + bytes({0x4E, 0x41, 0, 0, 0, 0, 0, 0, 0}), valueReply(0), "000"},
        ReadCase{"address", 3145, kReadAddress, 1,
                 kHead + bytes({0x4E, 0x40, 0, 0, 0, 0, 0, 0, 0}), valueReply(120), "120"},
        ReadCase{"phone1", 3146, kReadPhone1, 2, kHead + bytes({0x4E, 0x30, 0, 0, 0, 0, 0, 0, 0}),
                 phoneReply("89161234567"), "89161234567"},
        ReadCase{"phone2", 3147, kReadPhone2, 3, kHead + bytes({0x4E, 0x31, 0, 0, 0, 0, 0, 0, 0}),
                 phoneReply("8800"), "8800"},
        ReadCase{"sms", 3148, kReadSmsPhone, 4, kHead + bytes({0x4E, 0x32, 0, 0, 0, 0, 0, 0, 0}),
                 phoneReply(""), ""}),
    [](const auto& p) { return std::string(p.param.name); });

struct WriteCase {
    const char* name;
    int button;
    Request request;
    int field;
    std::string typed;
    std::string sent;  // "" = refused, nothing sent
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class ParameterWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ParameterWriteTest, SendsTheTypedTextOrRefusesIt) {
    const WriteCase& c = GetParam();
    Rig rig;
    rig.start();
    rig.type(rig.parameterField(c.field), c.typed);
    rig.core.tickCounter = 50;
    rig.click(c.button);
    rig.tick();  // t = 50
    rig.tick();  // t+1
    if (c.sent.empty()) {
        EXPECT_TRUE(rig.line.sent.empty());
        rig.tick();  // t+2: flag cleared
        EXPECT_FALSE(rig.core.requests.isSet(c.request));
    } else {
        ASSERT_EQ(rig.line.sent.size(), 1u);
        EXPECT_EQ(rig.line.sent[0].bytes, c.sent);
        EXPECT_EQ(rig.link.transmitBuffer[0], c.sent.size());
        rig.ticks(21);  // through t+22: step 2 -> 3
        EXPECT_TRUE(rig.core.requests.isSet(c.request));
        rig.tick();  // t+23
        EXPECT_FALSE(rig.core.requests.isSet(c.request));
    }
    EXPECT_EQ(rig.parameter(c.field), c.typed);  // the field keeps its text
    EXPECT_EQ(rig.line.sent.size(), c.sent.empty() ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    AllWrites, ParameterWriteTest,
    ::testing::Values(
        WriteCase{"period120", 3149, kWritePeriod, 0, "120",
                  kHead + bytes({0x30, 0x41, 0x54, 0x44, 0x50, 0x32, 0x31, 0x32, 0x30})},
        WriteCase{"address007", 3150, kWriteAddress, 1, "007",
                  kHead + bytes({0x30, 0x41, 0x54, 0x44, 0x50, 0x31, 0x30, 0x30, 0x37})},
        WriteCase{"address300", 3150, kWriteAddress, 1, "300",
                  kHead + bytes({0x30, 0x41, 0x54, 0x44, 0x50, 0x31, 0x33, 0x30, 0x30})},
        WriteCase{"periodTwoDigits", 3149, kWritePeriod, 0, "12", ""},
        WriteCase{"periodFourDigits", 3149, kWritePeriod, 0, "0012", ""},
        WriteCase{"periodLetter", 3149, kWritePeriod, 0, "1a2", ""},
        WriteCase{"addressEmpty", 3150, kWriteAddress, 1, "", ""},
        WriteCase{"phone2", 3152, kWritePhone2, 3, "89",
                  kHead + bytes({0x31, 0x41, 0x54, 0x44, 0x50, 0x38, 0x39, 0x0D, 0x0A})},
        WriteCase{"phone1Empty", 3151, kWritePhone1, 2, "",
                  kHead + bytes({0x30, 0x41, 0x54, 0x44, 0x50, 0x0D, 0x0A})},
        WriteCase{"sms18", 3153, kWriteSmsPhone, 4, "891612345678901234",
                  kHead + "2ATDP891612345678901234\r\n"},
        WriteCase{"sms19Refused", 3153, kWriteSmsPhone, 4, "8916123456789012345", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ControllerTiming, ReadWithoutAnswerTimesOutAt62AndClearsAt63) {
    Rig rig;
    rig.start();
    rig.type(rig.parameterField(1), "old");
    const Tick t = 7;
    rig.core.tickCounter = t;
    rig.click(3145);
    while (rig.core.tickCounter <= t + 61) rig.tick();
    EXPECT_EQ(rig.core.controllerProcedures[2].step(), kWait);
    rig.tick();  // t+62: deadline passed
    EXPECT_EQ(rig.core.controllerProcedures[2].step(), kFinish);
    EXPECT_TRUE(rig.core.requests.isSet(kReadAddress));
    rig.tick();  // t+63
    EXPECT_FALSE(rig.core.requests.isSet(kReadAddress));
    EXPECT_EQ(rig.parameter(1), "old");
}

TEST(ControllerTiming, FrameBitFirstSeenAtTheDeadlineTickIsTooLate) {
    Rig rig;
    rig.start();
    rig.core.tickCounter = 0;
    rig.click(3144);
    while (rig.core.tickCounter < 62) rig.tick();
    rig.reply(valueReply(9));  // classified just before tick t+62
    rig.tick();
    rig.tick();
    EXPECT_FALSE(rig.core.requests.isSet(kReadPeriod));
    EXPECT_EQ(rig.parameter(0), "");
}

TEST(ControllerTiming, ReplyAtTheLastWaitingTickIsTaken) {
    Rig rig;
    rig.start();
    rig.core.tickCounter = 0;
    rig.click(3144);
    while (rig.core.tickCounter < 61) rig.tick();
    rig.reply(valueReply(9));
    rig.tick();  // t+61
    EXPECT_EQ(rig.parameter(0), "009");
}

TEST(ControllerTiming, DeadlineAcrossTheCounterWrap) {
    Rig rig;
    rig.start();
    rig.core.tickCounter = 0xFFFFFFFFu - 16;  // send at 2^32 - 16: deadline wraps to 44
    rig.click(3144);
    rig.tick();
    rig.tick();
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(rig.core.controllerProcedures[0].deadline(), 44u);
    while (rig.core.tickCounter != 45) {
        rig.tick();
        ASSERT_EQ(rig.core.controllerProcedures[0].step(), kWait) << rig.core.tickCounter;
    }
    rig.tick();  // tick 45: passed
    EXPECT_EQ(rig.core.controllerProcedures[0].step(), kFinish);
}

TEST(ControllerInterlock, TieGoesToTheProcedureCalledLast) {
    Rig rig;
    rig.start();
    rig.click(3144);  // read period
    rig.click(3145);  // read address
    rig.ticks(2);
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(static_cast<std::uint8_t>(rig.line.sent[0].bytes[4]), 0x40);
    EXPECT_FALSE(rig.core.requests.isSet(kReadPeriod));
}

TEST(ControllerInterlock, ChannelWriteWinsEveryTie) {
    Rig rig;
    rig.start();
    rig.click(3154);
    rig.click(3155);
    rig.click(3146);
    rig.ticks(2);
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(rig.line.sent[0].bytes.size(), 35u);
}

TEST(ControllerInterlock, ModemRequestMakesEveryControllerRequestDrop) {
    Rig rig;
    rig.start();
    rig.click(3154);
    rig.click(3155);
    rig.click(IDC_MODEM_READ);
    rig.tick();
    EXPECT_FALSE(rig.core.requests.isSet(kReadChannels));
    EXPECT_FALSE(rig.core.requests.isSet(kWriteChannels));
    EXPECT_TRUE(rig.core.requests.isSet(kModemQuery));
}

TEST(ControllerInterlock, ReadClickedWhileAWriteHoldsIsDropped) {
    Rig rig;
    rig.start();
    rig.type(rig.parameterField(0), "100");
    rig.click(3149);
    rig.ticks(5);
    rig.click(3145);
    rig.ticks(40);
    ASSERT_EQ(rig.line.sent.size(), 1u);  // only the write
    EXPECT_FALSE(rig.core.requests.isSet(kReadAddress));
}

TEST(ControllerInterlock, SecondClickOnARunningReadChangesNothing) {
    Rig rig;
    rig.start();
    rig.click(3145);
    rig.ticks(3);
    rig.click(3145);
    rig.ticks(70);
    EXPECT_EQ(rig.line.sent.size(), 1u);
    EXPECT_FALSE(rig.core.requests.isSet(kReadAddress));
}

TEST(ControllerReplies, PeriodReplyWhileAddressReadWaitsIsShownAsAddress) {
    Rig rig;
    rig.start();
    rig.click(3145);
    rig.ticks(2);
    rig.reply(valueReply(42));  // any frame satisfies the waiting read
    rig.tick();
    EXPECT_EQ(rig.parameter(1), "042");
    EXPECT_EQ(rig.parameter(0), "");
}

TEST(ControllerReplies, WriteAnswerLeftInTheFrameBitIsNotTakenByTheNextRead) {
    Rig rig;
    rig.start();
    rig.type(rig.parameterField(0), "123");
    rig.click(3149);
    rig.ticks(3);
    rig.reply(kHead + "ACK");  // the controller acknowledges the write
    EXPECT_TRUE(rig.core.replyFlags & kFrameBit);
    rig.tickUntilLowered(kWritePeriod);
    rig.click(3144);
    rig.ticks(10);  // no answer to the read yet
    EXPECT_EQ(rig.parameter(0), "123");
    EXPECT_TRUE(rig.core.requests.isSet(kReadPeriod));
}

TEST(ControllerReplies, ShortOrBrokenRepliesLeaveTheFieldAlone) {
    struct Case {
        const char* name;
        int button;
        int field;
        std::string reply;
    } cases[] = {
        {"value burst of 4 bytes", 3144, 0, kHead + "A"},
        {"phone with 5 bytes before CR", 3146, 2, kHead + "NN\r\n"},
        {"phone ending early in a zero", 3147, 3, kHead + bytes({'N', 0, 0, 0}) + "891\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.start();
        rig.type(rig.parameterField(c.field), "keep");
        // A stale longer frame sits in the buffer from an earlier burst.
        rig.reply(kHead + "N0OK89001112233\r\n");
        rig.click(c.button);
        rig.ticks(2);
        rig.reply(c.reply);
        rig.tick();
        EXPECT_EQ(rig.parameter(c.field), "keep");
        EXPECT_EQ(rig.line.sent.size(), 1u);
    }
}

TEST(ControllerReplies, PhoneControlBytesShowAsBullets) {
    Rig rig;
    rig.start();
    rig.click(3146);
    rig.ticks(2);
    rig.reply(kHead + "N0OK8\x01" "9\r\n");
    rig.tick();
    EXPECT_EQ(rig.parameter(2), "8\x95" "9");
}

std::string channelReply(const std::vector<int>& values) {
    std::string r = kHead + "B";
    for (int v : values) r.push_back(static_cast<char>(v));
    return r;
}

TEST(Channels, ReadSetsTheGridFromTheReplyBits) {
    struct Case {
        const char* name;
        std::vector<int> reply;
        std::vector<std::pair<int, int>> expected;  // id, state
    } cases[] = {
        {"all 0x07", std::vector<int>(31, 0x07), {{3047, 1}, {3077, 1}, {3078, 1}, {3108, 1}, {3109, 1}, {3139, 1}}},
        {"all 0xF8", std::vector<int>(31, 0xF8), {{3047, 0}, {3094, 0}, {3139, 0}}},
        {"ch17 T only", [] { std::vector<int> v(31, 0); v[16] = 0x02; return v; }(),
         {{3063, 0}, {3094, 1}, {3125, 0}, {3093, 0}}},
        {"ch1 0x05", [] { std::vector<int> v(31, 0); v[0] = 0x05; return v; }(),
         {{3047, 1}, {3078, 0}, {3109, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.start();
        // Start from the opposite of what the reply says, so every box must change.
        for (int id = 3047; id <= 3139; ++id) rig.window->setCheckState(id, 1);
        if (c.expected.front().second == 1)
            for (int id = 3047; id <= 3139; ++id) rig.window->setCheckState(id, 0);
        rig.click(3154);
        rig.ticks(2);
        EXPECT_EQ(rig.line.sent.at(0).bytes, kHead + bytes({0x4E, 0x42, 0, 0, 0, 0, 0, 0, 0}));
        rig.reply(channelReply(c.reply));
        rig.tick();
        for (auto [id, state] : c.expected) EXPECT_EQ(rig.window->checkState(id), state) << id;
    }
}

TEST(Channels, ShortReplyKeepsTheChannelsItLacks) {
    Rig rig;
    rig.start();
    for (int id = 3047; id <= 3139; ++id) rig.window->setCheckState(id, 1);
    rig.click(3154);
    rig.ticks(2);
    rig.reply(channelReply(std::vector<int>(10, 0x00)));  // channels 1..10 only
    rig.tick();
    EXPECT_EQ(rig.window->checkState(3047 + 9), 0);   // channel 10 A cleared
    EXPECT_EQ(rig.window->checkState(3047 + 10), 1);  // channel 11 A kept
    EXPECT_EQ(rig.window->checkState(3139), 1);
}

TEST(Channels, WritePacksTheGridInto35Bytes) {
    Rig rig;
    rig.start();
    rig.click(3047);  // channel 1 A
    rig.click(3139);  // channel 31 BX (not parameter field 0)
    EXPECT_EQ(rig.window->checkState(3139), 1);
    rig.click(3155);
    rig.ticks(2);
    ASSERT_EQ(rig.line.sent.size(), 1u);
    std::string expected = kHead + bytes({0x42, 0x01}) + std::string(29, '\0') + bytes({0x04});
    EXPECT_EQ(rig.line.sent[0].bytes, expected);
    EXPECT_EQ(rig.link.transmitBuffer[0], 0x23);
    EXPECT_EQ(rig.tickUntilLowered(kWriteChannels), 22);
}

TEST(Channels, WriteClickedWhileAParameterReadWaitsIsDropped) {
    Rig rig;
    rig.start();
    rig.click(3146);
    rig.ticks(3);
    rig.click(3155);
    rig.ticks(3);
    EXPECT_FALSE(rig.core.requests.isSet(kWriteChannels));
    EXPECT_EQ(rig.line.sent.size(), 1u);
}

}  // namespace
}  // namespace ostrakan::test
