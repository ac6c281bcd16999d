#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <ostream>
#include <string>

#include "app/headless_window.h"
#include "app/reply_classifier.h"
#include "app/reply_flags.h"
#include "controller/frames.h"
#include "fake_line.h"

namespace ostrakan {
namespace {

using test::bytes;
using test::FakeLine;

const char kOld[] = "old";

class ClassifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ip.createMultilineEdit(0, 0, 1, 1, window, 3021);
        apn.createEdit(0, 0, 1, 1, window, 3022);
        user.createEdit(0, 0, 1, 1, window, 3023);
        resetFields();
    }

    void resetFields() {
        for (TextField* f : {&ip, &apn, &user}) f->showBytes(kOld);
    }

    // One burst as the reader delivers it, then the gap timer's expiry.
    void deliver(const std::string& burst) {
        line.receive(burst);
        const int stopsBefore = line.gapTimerStops;
        classifyReply(link, line, flags, ClassifierTargets{ip, apn, user});
        EXPECT_EQ(line.gapTimerStops, stopsBefore + 1);
        EXPECT_EQ(link.receiveLength.load(), 0u);
        EXPECT_EQ(link.gapTimerRunning.load(), 0u);
    }

    static std::string textOf(const TextField& f) {
        return std::string(reinterpret_cast<const char*>(f.data()), f.length());
    }
    std::string shown(const TextField& f) const { return window.textOf(f.control()); }

    HeadlessWindow window;
    TextField ip, apn, user;
    LinkBuffers link;
    FakeLine line{link};
    std::uint8_t flags = 0;
};

struct ShapeCase {
    const char* name;
    std::string burst;
    std::uint8_t bits;
};

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

class ClassifierShapes : public ClassifierTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(ClassifierShapes, SetsExactlyItsBitAndEndsTheBurst) {
    const ShapeCase& c = GetParam();
    deliver(c.burst);
    EXPECT_EQ(flags, c.bits);
    EXPECT_EQ(link.replyLength, c.burst.size());
    // No shape here carries a searched key: the fields are untouched.
    EXPECT_EQ(textOf(ip), kOld);
    EXPECT_EQ(textOf(apn), kOld);
    EXPECT_EQ(textOf(user), kOld);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ClassifierShapes,
    ::testing::Values(
        ShapeCase{"Ok", "\r\nOK\r\n", kOkBit},
        ShapeCase{"OkWithTrailer", "\r\nOK\r\n+CREG: 1\r\n", kOkBit},
        ShapeCase{"EchoedOk", "ATE0\r\r\nOK\r\n", kOkBit},
        ShapeCase{"BlankLineOk", "\r\n\r\nOK\r\n", kBlankLineOkBit},
        ShapeCase{"Error", "\r\nERROR\r\n", kErrorBit},
        ShapeCase{"Sics", "\r\n^SICS: 0,\"conType\",\"GPRS0\"\r\n\r\nOK\r\n", kSicsBit},
        ShapeCase{"SicsBare", "\r\n^SICS:", kSicsBit},
        ShapeCase{"Siss", "\r\n^SISS: 0,\"srvType\",\"Socket\"\r\n\r\nOK\r\n", kSissBit},
        ShapeCase{"SissBare", "\r\n^SISS:", kSissBit},
        ShapeCase{"FrameHead", bytes({0x0A, 0x21, 0xAA}), kFrameBit},
        ShapeCase{"FrameWithOkPayload", bytes({0x0A, 0x21, 0xAA}) + "\r\nOK\r\n", kFrameBit},
        // Near misses: nothing is set.
        ShapeCase{"OkWithoutLeadingCrLf", "OK\r\n", 0},
        ShapeCase{"CmeError", "\r\n+CME ERROR: 3\r\n", 0},
        ShapeCase{"SisColon", "\r\n^SIS:", 0},
        ShapeCase{"Sicx", "\r\n^SICX: 0", 0},
        ShapeCase{"Sisx", "\r\n^SISX: 0", 0},
        ShapeCase{"SicWithoutS", "\r\n^SIC: 0", 0},
        ShapeCase{"SissTruncated", "\r\n^SISS", 0},
        ShapeCase{"SicsTruncated", "\r\n^SIC", 0},
        ShapeCase{"OkTruncated", "\r\nOK\r", 0},
        ShapeCase{"BlankLineOkTruncated", "\r\n\r\nOK\r", 0},
        ShapeCase{"ErrorTruncated", "\r\nERROR\r", 0},
        ShapeCase{"ErrorWithoutCr", "\r\nERROR\n", 0},
        ShapeCase{"LowerCaseOk", "\r\nok\r\n", 0},
        ShapeCase{"CrWithoutLf", "\rOK\r\n", 0},
        ShapeCase{"LeadingSpace", " \r\nOK\r\n", 0},
        ShapeCase{"EchoWithoutSecondCr", "ATE0\r\nOK\r\n", 0},
        ShapeCase{"EchoTruncated", "ATE0\r\r\nOK\r", 0},
        ShapeCase{"FrameHeadTruncated", bytes({0x0A, 0x21}), 0},
        ShapeCase{"FrameHeadWrong", bytes({0x0A, 0x21, 0xAB}), 0},
        ShapeCase{"LfOk", "\n\r\nOK\r\n", 0},
        ShapeCase{"CrLfOnly", "\r\n", 0},
        ShapeCase{"Empty", "", 0}),
    [](const ::testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

TEST_F(ClassifierTest, FramePayloadStaysInTheBuffer) {
    const std::string burst = bytes({0x0A, 0x21, 0xAA, 0x4E, 0x07, 0x0D, 0x0A, 0x4F, 0x4B});
    deliver(burst);
    EXPECT_EQ(flags, kFrameBit);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(link.receiveBuffer), burst.size()), burst);
    EXPECT_EQ(link.replyLength, burst.size());
}

TEST_F(ClassifierTest, StaleBytesOfAnEarlierBurstAreNotData) {
    const struct {
        const char* name;
        std::string earlier;
        std::string now;
    } cases[] = {
        {"CR LF after OK", "\r\nOK\r\n", "\r\n"},
        {"CR LF after ERROR", "\r\nERROR\r\n", "\r\n"},
        {"CR LF CR LF after blank-line OK", "\r\n\r\nOK\r\n", "\r\n\r\n"},
        {"ATE0 after echoed OK", "ATE0\r\r\nOK\r\n", "ATE0"},
        {"LF after frame", bytes({0x0A, 0x21, 0xAA, 0x00}), "\n"},
        {"CR LF ^SI after SICS", "\r\n^SICS: 0,\"user\",\"bob\"", "\r\n^SI"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        deliver(c.earlier);
        ASSERT_NE(flags, 0);
        flags = 0;
        resetFields();
        deliver(c.now);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(textOf(user), kOld);
    }
}

TEST_F(ClassifierTest, BitsAccumulateAcrossBursts) {
    flags = 0x40;  // a bit a procedure has not cleared stays
    deliver("\r\nOK\r\n");
    deliver("\r\nERROR\r\n");
    EXPECT_EQ(flags, 0x40 | kOkBit | kErrorBit);
    deliver("garbage");
    deliver(bytes({0x0A, 0x21, 0xAA}));
    deliver("\r\n\r\nOK\r\n");
    deliver("\r\n^SICS: 1\r\n");
    deliver("\r\n^SISS: 1\r\n");
    EXPECT_EQ(flags, 0x40 | 0x3F);
}

TEST_F(ClassifierTest, SicsTakesUserAndApn) {
    const struct {
        const char* name;
        std::string burst;
        std::string user;
        std::string apn;
    } cases[] = {
        {"empty user, four-letter APN",
         "\r\n^SICS: 0,\"conType\",\"GPRS0\"\r\n^SICS: 0,\"user\",\"\"\r\n"
         "^SICS: 0,\"apn\",\"inet\"\r\n^SICS: 0,\"passwd\",\"*****\"\r\n\r\nOK\r\n",
         kOld, "inet"},
        {"both values", "\r\n^SICS: 0,\"apn\",\"internet.mts.ru\"\r\n^SICS: 0,\"user\",\"mts\"\r\n",
         "mts", "internet.mts.ru"},
        {"value kept as sent", "\r\n^SICS: 0,\"user\",\" a b,\xC1 \"\r\n", " a b,\xC1 ", kOld},
        {"only the first user line counts",
         "\r\n^SICS: 0,\"user\",\"\"\r\n^SICS: 0,\"user\",\"second\"\r\n", kOld, kOld},
        {"first match wins", "\r\n^SICS: 0,\"user\",\"one\"\r\n^SICS: 0,\"user\",\"two\"\r\n", "one",
         kOld},
        {"other profile ignored", "\r\n^SICS: 1,\"user\",\"x\"\r\n^SICS: 1,\"apn\",\"y\"\r\n", kOld,
         kOld},
        {"key needs its quote", "\r\n^SICS: 0,\"user\",x\"\r\n^SICS: 0,\"apn\", \"y\"\r\n", kOld,
         kOld},
        {"control bytes taken as bytes", "\r\n^SICS: 0,\"apn\",\"a\rb\"\r\n", kOld, "a\rb"},
        {"key anywhere in the burst", "\r\n^SICS: 0,\"conType\",\"GPRS0\"\r\n"
                                      "junk^SICS: 0,\"apn\",\"x\"",
         kOld, "x"},
        // A line whose closing quote is missing: the value runs to the next quote,
        // whatever line it is on.
        {"user's closing quote missing",
         "\r\n^SICS: 0,\"user\",\"bob\r\n^SICS: 0,\"apn\",\"x\"\r\n\r\nOK\r\n", "bob\r\n^SICS: 0,", "x"},
        {"apn's closing quote missing", "\r\n^SICS: 0,\"apn\",\"inet\r\n\r\nOK\r\n", kOld, kOld},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetFields();
        flags = 0;
        deliver(c.burst);
        EXPECT_EQ(flags, kSicsBit);
        EXPECT_EQ(textOf(user), c.user);
        EXPECT_EQ(textOf(apn), c.apn);
        EXPECT_EQ(textOf(ip), kOld);
        EXPECT_TRUE(user.byteMode());
        EXPECT_TRUE(apn.byteMode());
    }
    // What is taken is shown, control bytes as bullets.
    resetFields();
    deliver("\r\n^SICS: 0,\"apn\",\"a\rb\"\r\n");
    EXPECT_EQ(shown(apn), "a\x95" "b");
}

TEST_F(ClassifierTest, SicsValueOfMoreThan255BytesIsCut) {
    const std::string value(300, 'v');
    deliver("\r\n^SICS: 0,\"user\",\"" + value + "\"\r\n");
    EXPECT_EQ(flags, kSicsBit);
    EXPECT_EQ(textOf(user), value.substr(0, 255));
}

TEST_F(ClassifierTest, SissTakesTheAddressOfProfileNine) {
    const std::string lead = "\r\n^SISS: 0,\"srvType\",\"Socket\"\r\n"
                             "^SISS: 0,\"address\",\"socktcp://listener:65534\"\r\n"
                             "^SISS: 9,\"srvType\",\"Socket\"\r\n";
    const struct {
        const char* name;
        std::string burst;
        std::string ip;
    } cases[] = {
        {"IPv4 of profile 9",
         lead + "^SISS: 9,\"address\",\"socktcp://10.20.30.40:65534\"\r\n\r\nOK\r\n",
         "10.20.30.40"},
        {"profile 0 only", "\r\n^SISS: 0,\"address\",\"socktcp://10.20.30.40:65534\"\r\n\r\nOK\r\n",
         kOld},
        {"no address line", "\r\n^SISS: 9,\"srvType\",\"Socket\"\r\n\r\nOK\r\n", kOld},
        {"host name", lead + "^SISS: 9,\"address\",\"socktcp://a-very-long-hostname.example:65534\"",
         "a-very-long-hostname.example"},
        // A value ending in '0' loses 16 characters more.
        {"ends in 0", lead + "^SISS: 9,\"address\",\"socktcp://a-very-long-hostname.example:65530\"",
         "a-very-long-"},
        {"empty value", "\r\n^SISS: 9,\"address\",\"\"\r\n", kOld},
        {"15 characters", "\r\n^SISS: 9,\"address\",\"socktcp://1:655\"\r\n", kOld},
        {"16 characters cut to nothing", "\r\n^SISS: 9,\"address\",\"socktcp://:65534\"\r\n", ""},
        {"31 characters ending in 0",
         "\r\n^SISS: 9,\"address\",\"socktcp://192.168.100.200:65530\"\r\n", kOld},
        {"32 characters ending in 0",
         "\r\n^SISS: 9,\"address\",\"socktcp://1234567890123456:65530\"\r\n", ""},
        {"33 characters ending in 0",
         "\r\n^SISS: 9,\"address\",\"socktcp://12345678901234567:65530\"\r\n", "1"},
        // The closing quote missing: the value runs to the next quote and is cut as one.
        {"closing quote missing",
         "\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534\r\n^SISS: 9,\"port\"\r\n", "10.0.0.1:65534\r\n^SI"},
        {"closing quote missing, the next quote after a 0",
         "\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534\r\n^SISS: 10\"\r\n", "10."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetFields();
        flags = 0;
        deliver(c.burst);
        EXPECT_EQ(flags, kSissBit);
        EXPECT_EQ(textOf(ip), c.ip);
        EXPECT_EQ(textOf(user), kOld);
        EXPECT_EQ(textOf(apn), kOld);
    }
}

TEST_F(ClassifierTest, SissWritesTheByteViewOfTheIpField) {
    // The IP Address field lives in its text view; the classifier selects its byte view.
    ip.selectText();
    ip.assign("typed", 5);
    deliver("\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534\"\r\n");
    EXPECT_TRUE(ip.byteMode());
    EXPECT_EQ(textOf(ip), "10.0.0.1");
    EXPECT_EQ(shown(ip), "10.0.0.1");
    ip.selectText();
    EXPECT_EQ(textOf(ip), "typed");
}

TEST_F(ClassifierTest, KeyOrValueCrossingTheBurstEndIsNotTaken) {
    const struct {
        const char* name;
        std::string earlier;
        std::string now;
    } cases[] = {
        {"value without closing quote in the burst",
         "\r\n^SICS: 0,\"user\",\"bobby\"\r\n", "\r\n^SICS: 0,\"user\",\"bob"},
        {"key cut by the burst end", "\r\n^SICS: 0,\"user\",\"bob\"\r\n", "\r\n^SICS: 0,\"use"},
        {"key without its last quote", "\r\n^SICS: 0,\"user\",\"bob\"\r\n",
         "\r\n^SICS: 0,\"user\","},
        {"address without closing quote",
         "\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534\"\r\n",
         "\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534"},
        {"address key cut", "\r\n^SISS: 9,\"address\",\"socktcp://10.0.0.1:65534\"\r\n",
         "\r\n^SISS: 9,\"addr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        deliver(c.earlier);
        resetFields();
        flags = 0;
        deliver(c.now);
        EXPECT_NE(flags, 0);  // the shape itself is recognised
        EXPECT_EQ(textOf(user), kOld);
        EXPECT_EQ(textOf(ip), kOld);
    }
}

TEST_F(ClassifierTest, ValueAtTheVeryEndOfAFullBuffer) {
    // A 600-byte burst whose key sits at its end: nothing past the buffer is read.
    std::string burst = "\r\n^SICS:";
    const std::string tail = "^SICS: 0,\"apn\",\"abc";
    burst += std::string(600 - burst.size() - tail.size(), ' ');
    burst += tail;
    ASSERT_EQ(burst.size(), 600u);
    deliver(burst);
    EXPECT_EQ(flags, kSicsBit);
    EXPECT_EQ(textOf(apn), kOld);

    burst[burst.size() - 1] = '"';
    flags = 0;
    deliver(burst);
    EXPECT_EQ(textOf(apn), "ab");

    // A length past the buffer is taken as the whole buffer.
    line.receive(burst);
    link.receiveLength.store(100000);
    classifyReply(link, line, flags, ClassifierTargets{ip, apn, user});
    EXPECT_EQ(link.receiveLength.load(), 0u);
    EXPECT_EQ(link.replyLength, 600u);
}

// Random bursts: whatever arrives, the classifier stays inside the burst and the
// buffer, sets at most the one bit of the burst's shape and always ends the burst.
TEST_F(ClassifierTest, RandomBurstsNeverEscapeTheBuffer) {
    const std::string pieces[] = {
        "\r\n",        "\r\nOK\r\n",  "\r\n\r\nOK\r\n", "\r\nERROR\r\n",
        "\r\n^SICS:",  "\r\n^SISS:",  "ATE0\r\r\nOK\r\n", bytes({0x0A, 0x21, 0xAA}),
        "^SICS: 0,\"user\",\"", "^SICS: 0,\"apn\",\"", "^SISS: 9,\"address\",\"",
        "socktcp://", ":65534", ":65530", "\"", "0", "8", "1.2.3.4", std::string(1, '\0'),
        "\r", "\n", "^SI", "S:", "C",
    };
    const std::size_t pieceCount = sizeof pieces / sizeof pieces[0];
    std::mt19937 random(20261207u);
    auto below = [&random](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<std::uint32_t>(n));
    };

    // The bursts must reach every branch, or the loop proves little.
    std::uint8_t bitsSeen = 0;
    int usersTaken = 0, apnsTaken = 0, addressesTaken = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        SCOPED_TRACE(iteration);
        const std::size_t length = below(8) == 0 ? 600 - below(3) : below(601);
        std::string burst;
        // Most bursts begin with a recognised shape's first bytes.
        if (below(4) != 0) burst = pieces[below(8)];
        while (burst.size() < length) {
            if (below(3) == 0)
                burst.push_back(static_cast<char>(below(256)));
            else
                burst += pieces[below(pieceCount)];
        }
        burst.resize(length);

        resetFields();
        flags = 0;
        line.receive(burst);
        if (length == 600 && below(4) == 0) link.receiveLength.store(601 + static_cast<std::uint32_t>(below(5000)));
        classifyReply(link, line, flags, ClassifierTargets{ip, apn, user});

        ASSERT_EQ(link.receiveLength.load(), 0u);
        ASSERT_EQ(link.gapTimerRunning.load(), 0u);
        ASSERT_LE(link.replyLength, 600u);
        // At most one bit, and never 0x40 or 0x80.
        ASSERT_EQ(flags & (flags - 1), 0) << int{flags};
        ASSERT_EQ(flags & 0xC0, 0);
        auto startsWith = [&burst](const std::string& shape) {
            return burst.compare(0, shape.size(), shape) == 0;
        };
        std::uint8_t expected = 0;
        if (startsWith(bytes({0x0A, 0x21, 0xAA}))) expected = kFrameBit;
        if (startsWith("\r\nOK\r\n") || startsWith("ATE0\r\r\nOK\r\n")) expected = kOkBit;
        if (startsWith("\r\n\r\nOK\r\n")) expected = kBlankLineOkBit;
        if (startsWith("\r\nERROR\r\n")) expected = kErrorBit;
        if (startsWith("\r\n^SICS:")) expected = kSicsBit;
        if (startsWith("\r\n^SISS:")) expected = kSissBit;
        ASSERT_EQ(flags, expected);
        bitsSeen = static_cast<std::uint8_t>(bitsSeen | flags);
        // A field changes only when its key is in the burst.
        if (textOf(user) != kOld) {
            ASSERT_EQ(flags, kSicsBit);
            ASSERT_NE(burst.find("^SICS: 0,\"user\",\""), std::string::npos);
            ++usersTaken;
        }
        if (textOf(apn) != kOld) {
            ASSERT_EQ(flags, kSicsBit);
            ASSERT_NE(burst.find("^SICS: 0,\"apn\",\""), std::string::npos);
            ++apnsTaken;
        }
        if (textOf(ip) != kOld) {
            ASSERT_EQ(flags, kSissBit);
            ASSERT_NE(burst.find("^SISS: 9,\"address\",\""), std::string::npos);
            ++addressesTaken;
        }

        // The controller decoders stay inside the same burst.
        std::uint8_t value = 0;
        const bool hasValue = decodeValueReply(link, &value);
        ASSERT_EQ(hasValue, link.replyLength > 4);
        std::uint8_t channels[kChannelCount];
        const std::size_t n = decodeChannelReply(link, channels);
        const std::size_t carried = link.replyLength > 4 ? link.replyLength - 4 : 0;
        ASSERT_EQ(n, carried < kChannelCount ? carried : kChannelCount);
        const std::uint8_t* number = nullptr;
        std::size_t numberLength = 0;
        if (decodePhoneReply(link, &number, &numberLength)) {
            ASSERT_LE(7 + numberLength, link.replyLength);
            ASSERT_EQ(std::memchr(number, 0x0D, numberLength), nullptr);
            ASSERT_EQ(std::memchr(number, 0x0A, numberLength), nullptr);
        }
    }
    EXPECT_EQ(bitsSeen, 0x3F);
    EXPECT_GT(usersTaken, 0);
    EXPECT_GT(apnsTaken, 0);
    EXPECT_GT(addressesTaken, 0);
}

}  // namespace
}  // namespace ostrakan
