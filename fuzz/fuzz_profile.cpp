// The profile reader: a file's bytes through the JSON reader, parseProfile and
// validateProfile, as restore and provision read a profile.
//
// Input: the file's bytes. Checked:
// - parseProfile agrees with the JSON reader: a profile only from a JSON
//   document, and a syntax error only where the reader finds one, with its
//   "line L, column C" inside the text;
// - a document the reader accepts has no object with a key twice and only valid
//   UTF-8 in its strings (checked here by a decoder of its own);
// - a profile read writes back (writeProfile) to a text that reads as the same
//   profile;
// - a profile validateProfile accepts (with a 1251 converter for ASCII and the
//   Cyrillic letters) keeps every text it sends within its byte limit, free of
//   line breaks, zero bytes and 0x1A.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "controller/frames.h"
#include "fuzz/fuzz_check.h"
#include "modem/commands.h"
#include "modem/panel.h"
#include "tools/json/json_reader.h"
#include "tools/profile/profile.h"

using namespace ostrakan;
using json_reader::Value;

namespace {

// UTF-8 -> 1251 for ASCII, А..я, Ё and ё; anything else has no form here.
bool toCp1251(const std::string& utf8, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            *out += static_cast<char>(b);
            ++i;
            continue;
        }
        if (i + 1 >= utf8.size() || (b != 0xD0 && b != 0xD1)) return false;
        const unsigned cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
        if (cp >= 0x410 && cp <= 0x44F) *out += static_cast<char>(0xC0 + (cp - 0x410));
        else if (cp == 0x401) *out += '\xA8';
        else if (cp == 0x451) *out += '\xB8';
        else return false;
        i += 2;
    }
    return true;
}

// Whether text is well-formed UTF-8, decoded code point by code point.
bool wellFormed(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) n = 1, cp = b;
        else if ((b & 0xE0) == 0xC0) n = 2, cp = b & 0x1Fu;
        else if ((b & 0xF0) == 0xE0) n = 3, cp = b & 0x0Fu;
        else if ((b & 0xF8) == 0xF0) n = 4, cp = b & 0x07u;
        else return false;
        if (i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

void checkTree(const Value& v) {
    CHECK(wellFormed(v.text) || v.type == Value::Type::Number);
    std::vector<std::string> keys;
    for (const auto& [key, member] : v.members) {
        CHECK(wellFormed(key));
        keys.push_back(key);
        checkTree(member);
    }
    std::sort(keys.begin(), keys.end());
    CHECK(std::adjacent_find(keys.begin(), keys.end()) == keys.end());
    for (const Value& item : v.items) checkTree(item);
}

// "line L, column C: ..." with L within the text's lines.
void checkWhere(const std::string& error, const std::string& text) {
    unsigned line = 0, column = 0;
    CHECK(std::sscanf(error.c_str(), "line %u, column %u: ", &line, &column) == 2);
    CHECK(line >= 1 && column >= 1);
    CHECK(line <= 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
}

// A text that is sent: its 1251 form within the limit, with none of `bad`.
void checkSent(const std::optional<std::string>& text, std::size_t limit, const std::string& bad,
               std::size_t* total) {
    if (!text) return;
    std::string bytes;
    CHECK(toCp1251(*text, &bytes));
    CHECK(bytes.size() <= limit);
    CHECK(bytes.find_first_of(bad) == std::string::npos);
    *total += bytes.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    Value root;
    std::string jsonError;
    const bool json = json_reader::parse(text, &root, &jsonError);
    if (json) checkTree(root);
    else checkWhere(jsonError, text);

    Profile profile;
    std::string error;
    const bool read = parseProfile(text, &profile, &error);
    CHECK(read || !error.empty());
    if (!json) {
        CHECK(!read);
        if (size > kMaxProfileBytes) return 0;  // refused unread
        CHECK(error == jsonError);  // the syntax error, as the reader gave it
        return 0;
    }
    if (!read) {
        CHECK(error.compare(0, 5, "line ") != 0);  // the document was fine: a path names the item
        return 0;
    }

    Profile again;
    std::string written = writeProfile(profile);
    CHECK(parseProfile(written, &again, &error));
    CHECK(again == profile);

    if (!validateProfile(profile, toCp1251, &error)) return 0;
    // The controller ends a number at CR, LF or zero; "_data.ini" a line at 0x1A too.
    const std::string lineEnds("\r\n\0", 3), fileEnds("\r\n\0\x1A", 4);
    for (const auto* phone : {&profile.phone1, &profile.phone2, &profile.sms}) {
        std::size_t ignored = 0;
        checkSent(*phone, kMaxPhoneDigits, lineEnds, &ignored);
    }
    if (profile.internet == false) return 0;
    std::size_t total = 0;
    checkSent(profile.ip, fieldTextLimit(kEntryAddress9), fileEnds, &total);
    checkSent(profile.apn, fieldTextLimit(kEntryApn), fileEnds, &total);
    checkSent(profile.user, fieldTextLimit(kEntryUser), fileEnds, &total);
    checkSent(profile.password, fieldTextLimit(kEntryPassword), fileEnds, &total);
    CHECK(total <= kPanelFileLimit - 3);
    return 0;
}
