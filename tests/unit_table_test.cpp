// The units table (CSV) and the profile digest of the unit log.
#include <gtest/gtest.h>

#include <string>

#include "tests/iconv_cp1251.h"
#include "tools/profile/sha256.h"
#include "tools/profile/unit_table.h"

namespace ostrakan {
namespace {

TEST(UnitTable, ReadsQuotingBomLineEndsAndGivesEachRowItsProfile) {
    const std::string csv =
        "\xEF\xBB\xBFport,controller.address,serial,controller.phone1\r\n"
        "COM3,001,\"SN, 17\",\"+7 \"\"900\"\"\"\r\n"
        "\r\n"
        ",,,\n"
        " /dev/ttyUSB0 ,,\"two\nlines\",\n"
        "COM5,003,x,";  // no line end after the last row
    UnitTable t;
    std::string error;
    ASSERT_TRUE(parseUnitTable(csv, &t, &error)) << error;
    ASSERT_EQ(t.header.size(), 4u);
    EXPECT_EQ(t.header[0], "port");
    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_EQ(t.rows[0].cells[2], "SN, 17");
    EXPECT_EQ(t.rows[0].cells[3], "+7 \"900\"");
    EXPECT_EQ(t.port(t.rows[1]), "/dev/ttyUSB0");
    EXPECT_EQ(t.rows[1].line, 5u);
    EXPECT_EQ(t.rows[2].line, 7u);  // the quoted line break counts
    EXPECT_EQ(t.column("serial"), 2);

    Profile base;
    base.address = "099";
    base.period = "010";
    const Profile first = unitProfile(base, t, t.rows[0]);
    EXPECT_EQ(first.address, "001");
    EXPECT_EQ(first.period, "010");
    EXPECT_EQ(first.phone1, "+7 \"900\"");
    EXPECT_EQ(unitProfile(base, t, t.rows[1]).address, "099");  // an empty cell keeps the profile's
    EXPECT_TRUE(validateUnitTable(base, t, toCp1251, &error)) << error;
}

TEST(UnitTable, BadTablesNameLineAndColumn) {
    const struct {
        const char* csv;
        const char* error;  // a part of the message
    } cases[] = {
        {"", "no header row"},
        {"address,port\nCOM1,1\n", "line 1, column 1: the first column must be \"port\""},
        {"port,controller.adress\nCOM1,001\n", "line 1, column 2: \"controller.adress\" is no item"},
        {"port,serial,serial\n", "line 1, column 3: \"serial\" is named twice"},
        {"port\n", "names no unit"},
        {"port,controller.period\nCOM1,001,x\n", "line 2: 3 cells, the header has 2"},
        {"port,controller.period\nCOM1,\"001\n", "line 2, column 2: a quoted cell is never closed"},
        {"port,controller.period\nCOM1,\"001\"x\n", "line 2, column 2: text after a quoted cell"},
        {"port,controller.period\nCOM1,0\"01\n", "line 2, column 2: a quote inside a cell"},
        {"port,controller.period\n,001\n", "line 2, column 1: no port"},
        {"port,controller.period\nCOM1,001\nCOM2,002\nCOM1,003\n",
         "line 4, column 1: \"COM1\" is already the port of line 2"},
        {"port,serial\nCOM1,\xC0\xAF\n", "line 2, column 2: not UTF-8"},
    };
    for (const auto& c : cases) {
        UnitTable t;
        std::string error;
        EXPECT_FALSE(parseUnitTable(c.csv, &t, &error)) << c.csv;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.csv << " -> " << error;
    }
    UnitTable t;
    std::string error;
    const PortCheck onlyCom = [](const std::string& p, std::string* why) {
        *why = "not a port";
        return p.rfind("COM", 0) == 0;
    };
    EXPECT_FALSE(parseUnitTable("port\nCOM1\nttyX\n", &t, &error, onlyCom));
    EXPECT_EQ(error, "line 3, column 1: \"ttyX\": not a port");
}

TEST(UnitTable, EveryValueIsCheckedWithTheProfilesRules) {
    Profile base;
    base.apn = std::string(71, 'a');
    const struct {
        const char* csv;
        const char* error;
    } cases[] = {
        {"port,controller.address\nCOM1,001\nCOM2,12\n",
         "line 3, column 2 (controller.address \"12\"): \"12\" is not three digits"},
        {"port,serial,controller.phone2\nCOM1,a,1234567890123456789\n",
         "line 2, column 3 (controller.phone2 \"1234567890123456789\"): 19 bytes, at most 18 fit"},
        {"port,modem.user\nCOM1,\"a\nb\"\n", "line 2, column 2 (modem.user \"a\\nb\"): holds a line break"},
        {"port,modem.user\nCOM1,\xE4\xB8\xAD\n", "code page 1251 cannot hold"},
        {"port,modem.password\nCOM1,\"x\ny\"\n", "line 2, column 2 (modem.password): holds a line break"},
        // Each cell fits, but not beside the profile's APN in "_data.ini".
        {"port,modem.user\nCOM1,abc\nCOM2,abcdefghijklmnopqrstuvwxyz\n", "line 3 (COM2): modem: the entries together"},
    };
    for (const auto& c : cases) {
        UnitTable t;
        std::string error;
        ASSERT_TRUE(parseUnitTable(c.csv, &t, &error)) << error;
        EXPECT_FALSE(validateUnitTable(base, t, toCp1251, &error)) << c.csv;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.csv << " -> " << error;
        EXPECT_EQ(error.find("\"x\\ny\""), std::string::npos) << "a password in a message: " << error;
    }
    UnitTable t;
    std::string error;
    ASSERT_TRUE(parseUnitTable("port,modem.password,modem.apn\nCOM1,secret,inet\n", &t, &error));
    const auto values = unitValues(t, t.rows[0]);
    ASSERT_EQ(values.size(), 1u);  // never the password
    EXPECT_EQ(values[0].first, "modem.apn");
    Profile offline;
    offline.internet = false;
    EXPECT_FALSE(validateUnitTable(offline, t, toCp1251, &error));
    EXPECT_NE(error.find("without internet"), std::string::npos) << error;
}

TEST(Sha256, Fips180Vectors) {
    const struct {
        std::string in;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: the length spills into a 2nd block
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& c : cases) EXPECT_EQ(sha256Hex(c.in), c.digest) << c.in.size() << " bytes";
}

}  // namespace
}  // namespace ostrakan
