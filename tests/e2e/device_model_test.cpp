// The simulated controller and modem: reply layouts, what they store, and that
// every modem answer is one the program's reply classifier recognises.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/reply_classifier.h"
#include "app/reply_flags.h"
#include "modem/commands.h"
#include "tools/sim/device_model.h"
#include "tools/sim/replay.h"
#include "tools/sim/sim_options.h"
#include "serial/null_line.h"

namespace ostrakan::sim {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

std::string readRequest(char selector) { return bytes({0x0A, 0x21, 0xAA, 0x4E, selector, 0, 0, 0, 0, 0, 0, 0}); }

std::string valueWrite(char kind, const char* digits) {
    return bytes({0x0A, 0x21, 0xAA, 0x30, 0x41, 0x54, 0x44, 0x50, kind}) + digits;
}

std::string phoneWrite(char slot, const std::string& text) {
    return bytes({0x0A, 0x21, 0xAA, slot, 0x41, 0x54, 0x44, 0x50}) + text + "\r\n";
}

// Runs the program's classifier on one answer, as if it were a received burst.
struct Classified {
    std::uint8_t flags = 0;
    TextField ip, apn, user;

    explicit Classified(const std::string& answer) {
        LinkBuffers link;
        NullLine line;
        const std::size_t n = answer.size() < kReceiveBufferSize ? answer.size() : kReceiveBufferSize;
        std::memcpy(link.receiveBuffer, answer.data(), n);
        link.receiveLength = static_cast<std::uint32_t>(n);
        classifyReply(link, line, flags, {ip, apn, user});
    }
    static std::string text(const TextField& f) {
        return std::string(reinterpret_cast<const char*>(f.data()), f.length());
    }
};

// The command of table entry k as the program sends it, without CR LF.
std::string tableCommand(int k) {
    const CountedCommand& c = modemCommand(k);
    return std::string(c.text, c.count - 2);
}

TEST(DeviceModelTest, NamesEveryControllerRequest) {
    EXPECT_EQ(DeviceModel::nameOf(readRequest('A')), "read:period");
    EXPECT_EQ(DeviceModel::nameOf(readRequest('@')), "read:address");
    EXPECT_EQ(DeviceModel::nameOf(readRequest('0')), "read:phone1");
    EXPECT_EQ(DeviceModel::nameOf(readRequest('1')), "read:phone2");
    EXPECT_EQ(DeviceModel::nameOf(readRequest('2')), "read:sms");
    EXPECT_EQ(DeviceModel::nameOf(readRequest('B')), "read:channels");
    EXPECT_EQ(DeviceModel::nameOf(valueWrite('2', "120")), "write:period");
    EXPECT_EQ(DeviceModel::nameOf(valueWrite('1', "007")), "write:address");
    // Phone 1 starting with 2 shares its first 12 bytes with a period write; the
    // CR LF tells them apart.
    EXPECT_EQ(DeviceModel::nameOf(phoneWrite('0', "2123")), "write:phone1");
    EXPECT_EQ(DeviceModel::nameOf(phoneWrite('1', "89")), "write:phone2");
    EXPECT_EQ(DeviceModel::nameOf(phoneWrite('2', "")), "write:sms");
    EXPECT_EQ(DeviceModel::nameOf(std::string("\x0A\x21\xAA\x42", 4) + std::string(31, '\0')), "write:channels");
    EXPECT_EQ(DeviceModel::nameOf("AT^SISS?"), "AT^SISS?");
}

TEST(DeviceModelTest, ValueReplyCarriesTheValueAtOffsetFour) {
    DeviceModel m;
    m.controller.period = 255;
    const std::string reply = m.answer(readRequest('A'));
    ASSERT_GE(reply.size(), 5u);
    EXPECT_EQ(reply.substr(0, 4), bytes({0x0A, 0x21, 0xAA, 'A'}));
    EXPECT_EQ(static_cast<std::uint8_t>(reply[4]), 255);
    EXPECT_EQ(Classified(reply).flags, kFrameBit);
}

TEST(DeviceModelTest, ValueWritesAreStoredModulo256AndAcknowledged) {
    DeviceModel m(true);
    const std::string ack = m.answer(valueWrite('1', "300"));
    EXPECT_EQ(ack, bytes({0x0A, 0x21, 0xAA, 0x06, 0x0D, 0x0A}));
    EXPECT_EQ(m.controller.address, 44);
    m.answer(valueWrite('2', "120"));
    EXPECT_EQ(m.controller.period, 120);
    EXPECT_EQ(static_cast<std::uint8_t>(m.answer(readRequest('@'))[4]), 44);
}

TEST(DeviceModelTest, PhoneReplyHasPrintableBytesBeforeTheNumber) {
    DeviceModel m(true);
    m.answer(phoneWrite('1', "89031112233"));
    EXPECT_EQ(m.controller.phones[1], "89031112233");
    const std::string reply = m.answer(readRequest('1'));
    ASSERT_EQ(reply.size(), 7u + 11 + 2);
    for (int i = 3; i <= 6; ++i) {
        EXPECT_GE(static_cast<unsigned char>(reply[static_cast<std::size_t>(i)]), 0x20) << i;
        EXPECT_LT(static_cast<unsigned char>(reply[static_cast<std::size_t>(i)]), 0x7F) << i;
    }
    EXPECT_EQ(reply.substr(7), "89031112233\r\n");
}

TEST(DeviceModelTest, ChannelWriteStoresThreeBitsPerChannel) {
    DeviceModel m(true);
    std::string frame("\x0A\x21\xAA\x42", 4);
    for (int k = 0; k < 31; ++k) frame += static_cast<char>(k == 0 ? 0x01 : k == 30 ? 0xFC : 0);
    m.answer(frame);
    EXPECT_EQ(m.controller.channels[0], 0x01);
    EXPECT_EQ(m.controller.channels[30], 0x04);
    const std::string reply = m.answer(readRequest('B'));
    ASSERT_GE(reply.size(), 35u);
    EXPECT_EQ(reply[4], 0x01);
    EXPECT_EQ(reply[34], 0x04);
    for (int k = 5; k < 34; ++k) EXPECT_EQ(reply[static_cast<std::size_t>(k)], 0) << k;
}

TEST(DeviceModelTest, EchoOffAnswersPlainOkAndEchoOnTheEchoedOk) {
    DeviceModel m(true);
    m.modem.echo = true;
    EXPECT_EQ(m.answer("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(Classified("ATE0\r\r\nOK\r\n").flags, kOkBit);
    EXPECT_FALSE(m.modem.echo);
    EXPECT_EQ(m.answer("ATE0"), "\r\nOK\r\n");
    EXPECT_EQ(m.answer("+++"), "");
}

TEST(DeviceModelTest, EveryTableCommandGetsAnAnswerTheClassifierRecognises) {
    DeviceModel m;
    for (int k = 1; k < kModemCommandCount; ++k) {
        const std::string answer = m.answer(tableCommand(k));
        const std::uint8_t flags = Classified(answer).flags;
        EXPECT_NE(flags, 0) << "entry " << k << ": " << tableCommand(k);
        EXPECT_EQ(flags & (kFrameBit | kErrorBit), 0) << k;
    }
    EXPECT_EQ(m.answer(tableCommand(0)), "");  // "+++"
}

TEST(DeviceModelTest, SettingCommandsAnswerTheBlankLineOk) {
    DeviceModel m(true);
    for (int k : {3, 4, 5, 6, 7, 11, 12, 13, 14, 15, 16, 17, 18, 35})
        EXPECT_EQ(m.answer(tableCommand(k)), "\r\n\r\nOK\r\n") << tableCommand(k);
    for (int k : {36, 37, 38}) EXPECT_EQ(m.answer(tableCommand(k)), "\r\nOK\r\n") << tableCommand(k);
}

TEST(DeviceModelTest, LoadingAProfileNeverStoredIsAnError) {
    DeviceModel m(true);
    EXPECT_EQ(m.answer("AT^SIPS=service,load,0"), "\r\nERROR\r\n");
    EXPECT_EQ(Classified(m.answer("AT^SIPS=service,load,9")).flags, kErrorBit);
    m.answer("AT^SISS=9,\"srvType\",\"Socket\"");
    m.answer("AT^SIPS=service,save,9");
    EXPECT_EQ(m.answer("AT^SIPS=service,load,9"), "\r\n\r\nOK\r\n");
}

TEST(DeviceModelTest, FullSetupIsReadBackThroughTheClassifier) {
    DeviceModel m(true);
    for (const char* c : {"AT^SISS=0,\"srvType\",\"Socket\"", "AT^SISS=0,\"address\",\"socktcp://listener:65534\"",
                          "AT^SISS=9,\"srvType\",\"Socket\"", "AT^SISS=9,\"address\",\"socktcp://198.51.100.7:65534\"",
                          "AT^SICS=0,\"conType\",\"GPRS0\"", "AT^SICS=0,\"apn\",\"m2m.example\"",
                          "AT^SICS=0,\"user\",\"fieldop\"", "AT^SICS=0,\"passwd\",\"secret\"",
                          "AT^SIPS=service,save,0", "AT^SIPS=service,save,9", "AT^SIPS=connection,save,0"})
        EXPECT_EQ(m.answer(c), "\r\n\r\nOK\r\n") << c;
    // Power cycle: what was not stored is gone.
    m.modem.services[9] = {};
    m.modem.connection = m.modem.storedConnection;
    EXPECT_EQ(m.answer("AT^SIPS=service,load,9"), "\r\n\r\nOK\r\n");

    const std::string siss = m.answer("AT^SISS?");
    EXPECT_EQ(siss.substr(0, 8), "\r\n^SISS:");
    EXPECT_NE(siss.find("^SISS: 9,\"address\",\"socktcp://198.51.100.7:65534\"\r\n"), std::string::npos);
    EXPECT_EQ(siss.substr(siss.size() - 6), "\r\nOK\r\n");
    Classified s(siss);
    EXPECT_EQ(s.flags, kSissBit);
    EXPECT_EQ(Classified::text(s.ip), "198.51.100.7");

    const std::string sics = m.answer("AT^SICS?");
    Classified c(sics);
    EXPECT_EQ(c.flags, kSicsBit);
    EXPECT_EQ(Classified::text(c.user), "fieldop");
    EXPECT_EQ(Classified::text(c.apn), "m2m.example");
    EXPECT_EQ(sics.find("secret"), std::string::npos);  // the password is not shown
}

TEST(DeviceModelTest, WithoutInternetPathLeavesNoProfileToLoad) {
    DeviceModel m;
    ASSERT_EQ(m.answer("AT^SIPS=service,load,0"), "\r\n\r\nOK\r\n");
    for (int k : {17, 19, 21, 23, 25, 27, 18, 20, 22, 24, 26, 28, 29, 30, 31, 32, 33, 34, 35, 16, 1, 36, 37, 38})
        EXPECT_NE(Classified(m.answer(tableCommand(k))).flags & (kOkBit | kBlankLineOkBit), 0) << k;
    EXPECT_EQ(m.answer("AT^SIPS=service,load,0"), "\r\nERROR\r\n");
    EXPECT_EQ(m.answer("AT^SIPS=service,load,9"), "\r\nERROR\r\n");
}

TEST(DeviceModelTest, SplitsModemLinesAndKeepsAFrameWhole) {
    const auto lines = DeviceModel::splitRequests("+++\r\nATE0\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "+++");
    EXPECT_EQ(lines[1], "ATE0");
    const std::string frame = phoneWrite('0', "12");
    const auto frames = DeviceModel::splitRequests(frame);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], frame);
}

TEST(DeviceModelTest, AnyBytesGetAnAnswerOrSilenceNeverACrash) {
    DeviceModel m;
    const char* prefixes[] = {"", "AT^SICS=", "AT^SISS=", "AT^SIPS=", "\x0A\x21\xAA", "\x0A\x21\xAAN"};
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 5000; ++i) {
        std::string request = prefixes[next() % 6];
        const std::size_t extra = next() % 40;
        for (std::size_t k = 0; k < extra; ++k) {
            const char alphabet[] = "0123456789,\"AETSIPSaveloadresetservice\r\n\x0A\x21\xAA";
            request += alphabet[next() % (sizeof alphabet - 1)];
        }
        for (const std::string& r : DeviceModel::splitRequests(request)) {
            EXPECT_LT(m.answer(r).size(), 600u);
        }
    }
    EXPECT_EQ(m.answer("AT^SICS=99999999999,\"apn\",\"x\""), "\r\nERROR\r\n");
}

TEST(FaultTest, FaultsApplyToMatchingRequestsOnly) {
    std::vector<Fault> faults = {{FaultKind::Chunks, "read:", 4, 250}, {FaultKind::Truncate, "read:period", 5, 0}};
    Transmission t = planTransmission(faults, "read:period", "\x0A\x21\xAA" "A\x07\r\n");
    EXPECT_EQ(t.bytes.size(), 5u);
    EXPECT_EQ(t.chunkSize, 4u);
    EXPECT_EQ(t.chunkGapMs, 250);
    t = planTransmission(faults, "ATE0", "\r\nOK\r\n");
    EXPECT_EQ(t.bytes, "\r\nOK\r\n");
    EXPECT_EQ(t.chunkSize, 0u);
}

TEST(FaultTest, GarbleBreaksEveryShape) {
    const std::vector<Fault> garble = {{FaultKind::Garble, "*", 0, 0}};
    for (const char* answer : {"\r\nOK\r\n", "\r\n\r\nOK\r\n", "\r\nERROR\r\n", "ATE0\r\r\nOK\r\n",
                               "\r\n^SISS: 0,\"srvType\",\"none\"\r\n\r\nOK\r\n", "\x0A\x21\xAA" "A\x07\r\n"}) {
        const std::string garbled = planTransmission(garble, "x", answer).bytes;
        EXPECT_EQ(garbled.size(), std::strlen(answer));
        EXPECT_EQ(Classified(garbled).flags, 0) << answer;
    }
}

TEST(FaultTest, SilenceErrorAndLongAnswers) {
    EXPECT_EQ(planTransmission({{FaultKind::Silent, "AT^SICS", 0, 0}}, "AT^SICS?", "\r\nOK\r\n").bytes, "");
    EXPECT_EQ(planTransmission({{FaultKind::Error, "*", 0, 0}}, "ATE0", "\r\nOK\r\n").bytes, "\r\nERROR\r\n");
    const std::string longer = planTransmission({{FaultKind::Long, "read:channels", 700, 0}}, "read:channels", "\x0A\x21\xAA").bytes;
    EXPECT_EQ(longer.size(), 700u);
    EXPECT_EQ(longer.substr(0, 3), "\x0A\x21\xAA");
}

TEST(SimOptionsTest, ParsesFaultsWithNumbersFromTheEnd) {
    const char* argv[] = {"ostrakan-sim", "--link", "/tmp/x", "--chunks", "AT^SIPS=service,load,0:3:250",
                          "--delay", "read:period:100", "--silent", "*", "--trace", "--delay", "ATE0:7"};
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parseSimOptions(12, const_cast<char**>(argv), 1, &o, &error)) << error;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_TRUE(o.trace);
    ASSERT_EQ(o.faults.size(), 4u);  // in the order given, a repeated option too
    EXPECT_EQ(o.faults[0].match, "AT^SIPS=service,load,0");
    EXPECT_EQ(o.faults[0].a, 3);
    EXPECT_EQ(o.faults[0].b, 250);
    EXPECT_EQ(o.faults[1].match, "read:period");
    EXPECT_EQ(o.faults[1].a, 100);
    EXPECT_EQ(o.faults[2].kind, FaultKind::Silent);
    EXPECT_EQ(o.faults[3].match, "ATE0");
    EXPECT_EQ(o.faults[3].a, 7);

    const char* bad[] = {"ostrakan-sim", "--delay", "read:period"};
    SimOptions o2;
    EXPECT_FALSE(parseSimOptions(3, const_cast<char**>(bad), 1, &o2, &error));
    const char* unknown[] = {"ostrakan-sim", "--frobnicate"};
    EXPECT_FALSE(parseSimOptions(2, const_cast<char**>(unknown), 1, &o2, &error));
}

TEST(SimOptionsTest, AUnitPrefixScopesAFaultToThatUnit) {
    const char* argv[] = {"ostrakan-sim", "--silent", "2=*", "--units", "3", "--ignore-writes", "write:period",
                          "--delay", "3=AT^SISS=0,x:50"};
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parseSimOptions(9, const_cast<char**>(argv), 1, &o, &error)) << error;
    ASSERT_EQ(o.faults.size(), 3u);
    EXPECT_EQ(o.faults[0].unit, 2);
    EXPECT_EQ(o.faults[0].match, "*");
    EXPECT_EQ(o.faults[1].kind, FaultKind::IgnoreWrites);
    EXPECT_EQ(o.faults[1].unit, 0);
    EXPECT_EQ(o.faults[2].match, "AT^SISS=0,x");  // a '=' inside MATCH is MATCH's
    EXPECT_EQ(o.faults[2].a, 50);
    const std::size_t expected[] = {1, 2, 2};
    for (int unit = 1; unit <= 3; ++unit) EXPECT_EQ(faultsOfUnit(o.faults, unit).size(), expected[unit - 1]);

    const std::vector<std::vector<const char*>> refused = {
        {"ostrakan-sim", "--units", "3", "--silent", "4=*"},
        {"ostrakan-sim", "--silent", "2=*"},  // one unit only
        {"ostrakan-sim", "--units", "2", "--silent", "2="},
        {"ostrakan-sim", "--units", "2", "--link", "/tmp/x"},
        {"ostrakan-sim", "--units", "0"},
    };
    for (const auto& args : refused) {
        SimOptions bad;
        EXPECT_FALSE(parseSimOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), 1, &bad, &error))
            << args[args.size() - 1];
    }
}

TEST(ReplayTest, ExchangesFromBothRecordersWithTheRecordingSidesDelayTakenOff) {
    const std::string path = ::testing::TempDir() + "replay-test.trace";
    std::ofstream(path) << "# ostrakan-cli 1.1.0 trace, 9600 8N1, started 2026-12-07T12:00:00Z\n"
                           "+0.100 TX 41 54 0D 0A |AT..|\n"
                           "+0.350 RX 0D 0A 4F 4B 0D 0A |..OK..|\n"
                           "+0.900 RX 0D 0A |..|\n"
                           "+1.000 TX 41 54 0D 0A |AT..|\n"
                           "+1.100 TX 2B 2B 2B |+++|\n"
                           "# ostrakan-sim 1.1.0 trace, 9600 8N1, started 2026-12-07T12:00:05Z\n"
                           "+0.010 TX 0D |.|\n"          // before any request: nothing to answer
                           "+0.500 RX 41 54 0D 0A |AT..|\n"
                           "+0.540 TX 0D 0A |..|\n";
    std::vector<RecordedExchange> e;
    std::string error;
    ASSERT_TRUE(loadRecording(path, &e, &error)) << error;
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].request, "AT\r\n");
    ASSERT_EQ(e[0].replies.size(), 2u);
    EXPECT_EQ(e[0].replies[0].delayMs, 30);  // 250 less the program's 200 ms gap and our 20 ms
    EXPECT_EQ(e[0].replies[0].bytes, "\r\nOK\r\n");
    EXPECT_EQ(e[0].replies[1].delayMs, 580);
    EXPECT_TRUE(e[1].replies.empty());
    EXPECT_TRUE(e[2].replies.empty());
    ASSERT_EQ(e[3].replies.size(), 1u);
    EXPECT_EQ(e[3].replies[0].delayMs, 40);  // the simulator's own times are taken as they are
    // The same request again gets the next recorded answer; one not recorded none.
    EXPECT_EQ(takeExchange(e, "AT\r\n"), &e[0]);
    EXPECT_EQ(takeExchange(e, "AT\r\n"), &e[1]);
    EXPECT_EQ(takeExchange(e, "AT\r\n"), &e[3]);
    EXPECT_EQ(takeExchange(e, "AT\r\n"), nullptr);
    EXPECT_EQ(takeExchange(e, "ATE0\r\n"), nullptr);

    // A hidden password matches whatever password the program sends in its place.
    std::ofstream(path) << "# ostrakan-cli 1.1.0 trace, 9600 8N1, started 2026-12-07T12:00:00Z\n"
                           "+0.100 TX 41 54 5E 53 49 43 53 3D 30 2C 22 70 61 73 73 77 64 22 2C 22 ** ** 22 0D 0A "
                           "|AT^SICS=0,\"passwd\",\"**\"..|\n"
                           "+0.400 RX 0D 0A 4F 4B 0D 0A |..OK..|\n";
    std::vector<RecordedExchange> hidden;
    ASSERT_TRUE(loadRecording(path, &hidden, &error)) << error;
    EXPECT_EQ(takeExchange(hidden, "AT^SICS=0,\"user\",\"secret\"\r\n"), nullptr);
    EXPECT_EQ(takeExchange(hidden, "AT^SICS=0,\"passwd\",\"a\"\"\r\n"), &hidden[0]);
    hidden[0].used = false;
    EXPECT_EQ(takeExchange(hidden, "AT^SICS=0,\"passwd\",\"\"\r\n"), &hidden[0]);

    // Each row: a file that is no usable session trace, and what the message says.
    const struct {
        std::string text;
        const char* error;
    } kBad[] = {
        {"+0.100 TX 41\n", "not a session trace line"},  // no header
        {"# some other tool\n+0.100 TX 41\n", "not a header"},
        {"# ostrakan-cli 1.1.0 trace\n12:00:00.100 TX 41\n", "is not a time stamp"},  // a plain trace
        {"# ostrakan-cli 1.1.0 trace\n+0.100 TX 4G\n", "\"4G\" is not a byte in hex"},
        {"# ostrakan-cli 1.1.0 trace\n+99999999999999999999.000 TX 41\n", ":2: \"+99999999999999999999.000\""},
        {"# ostrakan-cli 1.1.0 trace\n+1000000000.000 TX 41\n", "at most 999999999 s"},
        {"# ostrakan-cli 1.1.0 trace\n+0.100 TX ** 41 **\n", "in more than one place"},
        {"", "holds no session"},
        {"\n\n", "holds no session"},
        {"# ostrakan-cli 1.1.0 trace\n", "holds no request"},
        {"# ostrakan-cli 1.1.0 trace\n+0.100 RX 41\n", "holds no request"},
    };
    for (const auto& bad : kBad) {
        std::ofstream(path) << bad.text;
        std::vector<RecordedExchange> none;
        EXPECT_FALSE(loadRecording(path, &none, &error)) << bad.text;
        EXPECT_NE(error.find(bad.error), std::string::npos) << error;
    }
    // Too large (a sparse file), a folder and a device are refused unread.
    std::ofstream(path) << "# ostrakan-cli 1.1.0 trace\n+0.100 TX 41\n";
    std::filesystem::resize_file(path, kMaxRecordingBytes + 1);
    const std::pair<std::string, const char*> kNotATrace[] = {
        {path, "larger than 16 MiB"}, {::testing::TempDir(), "is a folder"}, {"/dev/zero", "is a device"}};
    for (const auto& [file, why] : kNotATrace) {
        std::vector<RecordedExchange> none;
        EXPECT_FALSE(loadRecording(file, &none, &error)) << file;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    std::remove(path.c_str());
}

}  // namespace
}  // namespace ostrakan::sim
