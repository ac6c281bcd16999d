#include <gtest/gtest.h>

#include <string>

#include "tests/iconv_cp1251.h"
#include "tools/json/json_reader.h"
#include "tools/profile/profile.h"

namespace ostrakan {
namespace {

std::string withFormat(const std::string& body) {
    return R"({"format": "ostrakan-profile/1", )" + body + "}";
}
std::string controller(const std::string& items) { return withFormat(R"("controller": {)" + items + "}"); }
std::string modem(const std::string& items) { return withFormat(R"("modem": {)" + items + "}"); }

// n channel entries, all `entry` but the one at index `at`, which is `other`.
std::string channels(std::size_t n, const std::string& entry = R"({"A": true, "T": false, "BX": false})",
                     std::size_t at = 99, const std::string& other = "") {
    std::string s = "[";
    for (std::size_t i = 0; i < n; ++i) s += (i ? "," : "") + (i == at ? other : entry);
    return s + "]";
}

std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// Each row: the file and the error it must give, or "" when it is accepted by
// both the parse and the 1251 validation.
TEST(Profile, RefusesBadProfilesNamingTheItem) {
    const std::string ok = R"({"A": true, "T": false, "BX": false})";
    const std::string ch4 = channels(31, ok, 4, R"({"A": true, "T": false, "C": false})");
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {"[]", "profile: expected an object, got an array"},
        {"{}", R"(format: missing; expected "ostrakan-profile/1")"},
        {R"({"format": 1})", "format: expected a string, got a number"},
        {R"({"format": "ostrakan-profile/2", "new": 1})",
         R"(format: "ostrakan-profile/2" is not supported)"},
        {withFormat(R"("extra": 1)"), R"(profile: unknown key "extra")"},
        {withFormat(R"("controller": [])"), "controller: expected an object, got an array"},
        {controller(R"("perod": "120")"), R"(controller: unknown key "perod")"},
        {controller(R"("period": 120)"), "controller.period: expected a string, got a number"},
        {controller(R"("period": "12")"), R"(controller.period: "12" is not three digits)"},
        {controller(R"("period": "0012")"), R"(controller.period: "0012" is not three digits)"},
        {controller(R"("address": "1a2")"), R"(controller.address: "1a2" is not three digits)"},
        {controller(R"("address": "٠٠٧")"), "controller.address: \"٠٠٧\" is not three digits"},
        {controller(R"("phone1": null)"), "controller.phone1: expected a string, got null"},
        {controller(R"("phone2": "89\r\n1")"), "controller.phone2: holds a line break"},
        {controller(R"("sms": "8\u0000")"), "controller.sms: holds a zero byte"},
        {controller(R"("phone1": "8916123456789012345")"), "controller.phone1: 19 bytes, at most 18 fit"},
        {controller(R"("phone1": ")" + repeat("Ж", 19) + "\""), "controller.phone1: 19 bytes, at most 18 fit"},
        {controller(R"("phone1": ")" + repeat("Ж", 18) + "\""), ""},
        {controller(R"("sms": "8中")"), "controller.sms: holds a character that code page 1251 cannot hold"},
        {controller(R"("channels": {})"), "controller.channels: expected an array, got an object"},
        {controller(R"("channels": )" + channels(30)), "controller.channels: 30 entries, exactly 31 needed"},
        {controller(R"("channels": )" + channels(32)), "controller.channels: 32 entries"},
        {controller(R"("channels": )" + ch4), R"(controller.channels[4]: unknown key "C" (channel 5))"},
        {controller(R"("channels": )" + channels(31, R"({"A": true, "T": false})")),
         R"(controller.channels[0]: missing key "BX" (channel 1))"},
        {controller(R"("channels": )" + channels(31, R"({"A": 1, "T": false, "BX": false})")),
         "controller.channels[0].A: expected a boolean, got a number"},
        {controller(R"("channels": )" + channels(31, "true")),
         "controller.channels[0]: expected an object, got a boolean"},
        {modem(R"("internet": "yes")"), "modem.internet: expected a boolean, got a string"},
        {modem(R"("pasword": "x")"), R"(modem: unknown key "pasword")"},
        {modem(R"("ip": ")" + std::string(59, '1') + "\""), "modem.ip: 59 bytes, at most 58 fit"},
        {modem(R"("apn": ")" + std::string(79, 'a') + "\""), "modem.apn: 79 bytes, at most 78 fit"},
        {modem(R"("apn": ")" + repeat("Ж", 79) + "\""), "modem.apn: 79 bytes, at most 78 fit"},
        {modem(R"("user": ")" + std::string(78, 'u') + "\""), "modem.user: 78 bytes, at most 77 fit"},
        {modem(R"("password": ")" + std::string(76, 'p') + "\""), "modem.password: 76 bytes, at most 75 fit"},
        {modem(R"("user": "a\u001a")"), "modem.user: holds the end-of-file byte 0x1A"},
        {modem(R"("apn": "a\nb")"), "modem.apn: holds a line break"},
        {modem(R"("ip": ")" + std::string(30, '1') + R"(", "apn": ")" + std::string(40, 'a') +
               R"(", "user": ")" + std::string(27, 'u') + "\""),
         "modem: the entries together hold 97 bytes, at most 96 fit"},
        {modem(R"("ip": ")" + std::string(30, '1') + R"(", "apn": ")" + std::string(40, 'a') +
               R"(", "user": ")" + std::string(26, 'u') + "\""), ""},
        // Without internet the entries are ignored: only their type is checked.
        {modem(R"("internet": false, "apn": ")" + std::string(200, 'a') + "\\n\""), ""},
        {modem(R"("internet": false, "apn": 5)"), "modem.apn: expected a string, got a number"},
        {withFormat(R"("controller": {}, "modem": {})"), ""},
        {"{\"format\": \"ostrakan-profile/1\",\n \"controller\": {\"period\": \"120\",}}",
         "line 2, column 33: expected a key in double quotes"},
        {controller(R"("period": "120", "period": "010")"), R"(duplicate key "period")"},
        // At the size limit a file is read; one byte more and it is refused unread.
        {modem(R"("apn": ")" + std::string(kMaxProfileBytes - modem(R"("apn": "")").size(), 'a') + "\""),
         "modem.apn: 1048522 bytes, at most 78 fit"},
        {modem(R"("apn": ")" + std::string(kMaxProfileBytes + 1 - modem(R"("apn": "")").size(), 'a') + "\""),
         "profile: larger than 1024 KiB"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        Profile p;
        std::string error;
        const bool ok = parseProfile(row.text, &p, &error) && validateProfile(p, toCp1251, &error);
        if (row.error.empty()) {
            EXPECT_TRUE(ok) << error;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
        }
    }
}

TEST(Profile, WritesTheDocumentedLayoutAndReadsItBack) {
    Profile full;
    full.period = "120";
    full.address = "007";
    full.phone1 = "89161234567";
    full.phone2 = "";
    full.sms = "8\"\\/\t\x01Ёж";
    full.channels.emplace();
    for (std::size_t i = 0; i < kProfileChannels; ++i)
        (*full.channels)[i] = channelFromByte(static_cast<std::uint8_t>(i * 5));
    full.internet = true;
    full.ip = "10.9.8.7";
    full.apn = "internet.мтс";
    full.user = "Иван \"И\"";
    full.password = "p\\w";

    const std::string text = writeProfile(full);
    EXPECT_EQ(text.rfind("{\n  \"format\": \"ostrakan-profile/1\",\n  \"controller\": {\n    \"period\": \"120\",", 0), 0u)
        << text;
    EXPECT_LT(text.find("\"channels\""), text.find("\"modem\""));
    EXPECT_NE(text.find("\n      {\"A\": false, \"T\": false, \"BX\": false},\n      {\"A\": true, \"T\": false, \"BX\": true},\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find(R"("sms": "8\"\\/\t\u0001Ёж")"), std::string::npos) << text;

    Profile modemOnly;
    modemOnly.internet = false;
    // One item alone still makes its section, and only its section.
    Profile passwordOnly;
    passwordOnly.password = "x";
    Profile channelsOnly;
    channelsOnly.channels.emplace();
    const struct {
        Profile profile;
        bool controller, modem;
    } cases[] = {{full, true, true}, {Profile{}, false, false}, {modemOnly, false, true},
                 {passwordOnly, false, true}, {channelsOnly, true, false}};
    for (const auto& c : cases) {
        const std::string text = writeProfile(c.profile);
        EXPECT_EQ(text.find("\"controller\"") != std::string::npos, c.controller) << text;
        EXPECT_EQ(text.find("\"modem\"") != std::string::npos, c.modem) << text;
        Profile back;
        std::string error;
        ASSERT_TRUE(parseProfile(text, &back, &error)) << error << "\n" << text;
        EXPECT_TRUE(back == c.profile) << text;
        EXPECT_TRUE(validateProfile(back, toCp1251, &error)) << error;
    }
    EXPECT_EQ(writeProfile(passwordOnly),
              "{\n  \"format\": \"ostrakan-profile/1\",\n  \"modem\": {\n    \"password\": \"x\"\n  }\n}\n");
    EXPECT_EQ(writeProfile(Profile{}), "{\n  \"format\": \"ostrakan-profile/1\"\n}\n");
    EXPECT_TRUE(full.writesModemEntries());
    modemOnly.apn = "ignored";
    EXPECT_FALSE(modemOnly.writesModemEntries());
    EXPECT_FALSE(Profile{}.writesModemEntries());

    // A channel byte's three bits survive the trip; the upper five are not channels.
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(channelByte(channelFromByte(static_cast<std::uint8_t>(b))), b & 7);
}

// A compact rendering of a tree, strings with their raw bytes.
std::string render(const json_reader::Value& v) {
    using T = json_reader::Value::Type;
    switch (v.type) {
        case T::Null: return "null";
        case T::Bool: return v.boolean ? "true" : "false";
        case T::Number: return "#" + v.text;
        case T::String: return "'" + v.text + "'";
        case T::Array: {
            std::string s = "[";
            for (const auto& i : v.items) s += (s.size() > 1 ? "," : "") + render(i);
            return s + "]";
        }
        case T::Object: {
            std::string s = "{";
            for (const auto& m : v.members) s += (s.size() > 1 ? "," : "") + m.first + ":" + render(m.second);
            return s + "}";
        }
    }
    return "?";
}

// Each row: the input and its rendering, or "error: " and the message expected.
TEST(JsonReader, ReadsStrictJson) {
    const struct {
        std::string input;
        std::string expected;
    } rows[] = {
        {R"("\"\\\/\b\f\n\r\t")", "'\"\\/\b\f\n\r\t'"},
        {R"("\u0041\u00e9\u20AC\u0000x")", std::string("'Aé€") + '\0' + "x'"},
        {R"("\ud83d\ude00")", "'\xF0\x9F\x98\x80'"},
        {"\"Ёж😀\"", "'Ёж😀'"},
        {" [1, -0, 0.5, -12.5e+3, 1E2, true, false, null, {}, []] ", "[#1,#-0,#0.5,#-12.5e+3,#1E2,true,false,null,{},[]]"},
        {R"({"a": {"b": [ "c" ]}, "d": 1})", "{a:{b:['c']},d:#1}"},
        {"\xEF\xBB\xBF{\"a\": 1}", "{a:#1}"},
        {R"("\ud83d")", "error: line 1, column 2: a high surrogate without a low surrogate after it"},
        {R"("\ud83dx")", "error: a high surrogate without a low surrogate"},
        {R"("\ud83d\u0041")", "error: a high surrogate without a low surrogate"},
        {R"("\ude00")", "error: a low surrogate without a high surrogate"},
        {R"("\u12G4")", "error: expected four hexadecimal digits"},
        {R"("\x")", "error: line 1, column 2: unknown escape \\x"},
        {"\"a\tb\"", "error: a control character in a string must be escaped"},
        {"\"\xC0\x80\"", "error: invalid UTF-8"},
        {"\"\xED\xA0\x80\"", "error: invalid UTF-8"},
        {"\"\xF5\x80\x80\x80\"", "error: invalid UTF-8"},
        {"\"\xD0\"", "error: invalid UTF-8"},
        // The edges of each UTF-8 length, raw and as escapes, and the forms just past them.
        {"\"\x7F\xC2\x80\xDF\xBF\"", "'\x7F\xC2\x80\xDF\xBF'"},
        {R"("\u007f\u0080\u07FF")", "'\x7F\xC2\x80\xDF\xBF'"},
        {"\"\xE0\xA0\x80\xEF\xBF\xBF\"", "'\xE0\xA0\x80\xEF\xBF\xBF'"},
        {R"("\u0800\uffff")", "'\xE0\xA0\x80\xEF\xBF\xBF'"},
        {"\"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\"", "'\xF0\x90\x80\x80\xF4\x8F\xBF\xBF'"},
        {R"("\ud800\udc00\udbff\udfff")", "'\xF0\x90\x80\x80\xF4\x8F\xBF\xBF'"},
        {"\"\xED\x9F\xBF\xEE\x80\x80\"", "'\xED\x9F\xBF\xEE\x80\x80'"},  // U+D7FF, U+E000
        {R"("\ud7ff\ue000")", "'\xED\x9F\xBF\xEE\x80\x80'"},
        {"\"\xED\xBF\xBF\"", "error: invalid UTF-8"},      // U+DFFF
        {R"("\udbff")", "error: a high surrogate without a low surrogate"},
        {R"("\udfff")", "error: a low surrogate without a high surrogate"},
        {R"("\udbff\ue000")", "error: a high surrogate without a low surrogate"},
        {R"("\ud800\udbff")", "error: a high surrogate without a low surrogate"},
        {"\"\xC1\xBF\"", "error: invalid UTF-8"},           // U+007F overlong
        {"\"\xE0\x9F\xBF\"", "error: invalid UTF-8"},       // U+07FF overlong
        {"\"\xF0\x8F\xBF\xBF\"", "error: invalid UTF-8"},   // U+FFFF overlong
        {"\"\xF4\x90\x80\x80\"", "error: invalid UTF-8"},   // U+110000
        {"\"\xF5\x80\x80\x80\"", "error: invalid UTF-8"},
        {"\"\xE0\xA0\"", "error: invalid UTF-8"},           // cut short
        {"\"\xF0\x90\x80\"", "error: invalid UTF-8"},
        {"\"\xC2\x41\"", "error: invalid UTF-8"},           // no continuation
        {"\"\x80\"", "error: invalid UTF-8"},
        {"\"abc", "error: unterminated string"},
        {"{\"a\": 1} x", "error: line 1, column 10: unexpected text after the end"},
        {"{\"a\": 1,\n  \"a\": 2}", "error: line 2, column 3: duplicate key \"a\""},
        {"[1,]", "error: expected a value"},
        {"{\"a\": 1,}", "error: expected a key in double quotes"},
        {"{'a': 1}", "error: expected a key in double quotes"},
        {"{\"a\" 1}", "error: expected ':'"},
        {"[1 2]", "error: expected ',' or ']'"},
        {"01", "error: a number must not begin with 0"},
        {"1.", "error: expected a digit after '.'"},
        {".5", "error: expected a value"},
        {"-", "error: expected a digit"},
        {"1e", "error: expected a digit in the exponent"},
        {"tru", "error: expected a value"},
        {"", "error: line 1, column 1: unexpected end"},
        {"// c\n1", "error: expected a value"},
        {"\"Ж\" Ж", "error: line 1, column 5: unexpected text"},
        {repeat("[", 64) + repeat("]", 64), repeat("[", 64) + repeat("]", 64)},
        {repeat("[", 65) + repeat("]", 65), "error: nested deeper than 64"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        json_reader::Value v;
        std::string error;
        const bool ok = json_reader::parse(row.input, &v, &error);
        if (row.expected.rfind("error: ", 0) == 0) {
            EXPECT_FALSE(ok) << render(v);
            EXPECT_NE(error.find(row.expected.substr(7)), std::string::npos) << error;
        } else {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(render(v), row.expected);
        }
    }
}

}  // namespace
}  // namespace ostrakan
