#include "tools/json/json_reader.h"

#include <cstdint>
#include <unordered_set>

namespace ostrakan::json_reader {

const Value* Value::find(std::string_view key) const {
    for (const auto& m : members)
        if (m.first == key) return &m.second;
    return nullptr;
}

const char* typeName(Value::Type type) {
    switch (type) {
        case Value::Type::Null: return "null";
        case Value::Type::Bool: return "a boolean";
        case Value::Type::Number: return "a number";
        case Value::Type::String: return "a string";
        case Value::Type::Array: return "an array";
        case Value::Type::Object: return "an object";
    }
    return "?";
}

namespace {

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at s[0..n), or 0: no overlong forms, no
// surrogates, nothing above U+10FFFF.
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t n) {
    const unsigned char b = s[0];
    std::size_t len;
    std::uint32_t min;
    std::uint32_t cp;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; min = 0x80; cp = b & 0x1F; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; min = 0x800; cp = b & 0x0F; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; min = 0x10000; cp = b & 0x07; }
    else return 0;
    if (n < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool document(Value* out, std::string* error) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        skipSpace();
        bool ok = value(out, 0);
        if (ok) {
            skipSpace();
            if (pos_ < s_.size()) ok = fail("unexpected text after the end of the document");
        }
        if (!ok) *error = where(failPos_) + ": " + message_;
        return ok;
    }

private:
    bool fail(std::string message) { return failAt(pos_, std::move(message)); }
    bool failAt(std::size_t at, std::string message) {
        failPos_ = at;
        message_ = std::move(message);
        return false;
    }

    std::string where(std::size_t at) const {
        int line = 1, column = 1;
        for (std::size_t i = 0; i < at && i < s_.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s_[i]);
            if (c == '\n') {
                ++line;
                column = 1;
            } else if ((c & 0xC0) != 0x80) {  // continuation bytes are the same character
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column);
    }

    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool eat(char c) {
        if (pos_ >= s_.size() || s_[pos_] != c) return false;
        ++pos_;
        return true;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool value(Value* out, int depth) {
        if (pos_ >= s_.size()) return fail("unexpected end of the document");
        const char c = s_[pos_];
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) return fail("nested deeper than " + std::to_string(kMaxDepth));
            return c == '{' ? object(out, depth + 1) : array(out, depth + 1);
        }
        if (c == '"') {
            out->type = Value::Type::String;
            return string(&out->text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return number(out);
        if (literal("true")) {
            out->type = Value::Type::Bool;
            out->boolean = true;
            return true;
        }
        if (literal("false")) {
            out->type = Value::Type::Bool;
            return true;
        }
        if (literal("null")) {
            out->type = Value::Type::Null;
            return true;
        }
        return fail("expected a value");
    }

    bool object(Value* out, int depth) {
        out->type = Value::Type::Object;
        ++pos_;  // '{'
        skipSpace();
        if (eat('}')) return true;
        // The keys seen so far, hashed: a scan of the members for each key would
        // make an object of n keys cost n squared.
        std::unordered_set<std::string> seen;
        for (;;) {
            if (pos_ >= s_.size() || s_[pos_] != '"') return fail("expected a key in double quotes");
            const std::size_t keyPos = pos_;
            std::string key;
            if (!string(&key)) return false;
            if (!seen.insert(key).second) return failAt(keyPos, "duplicate key \"" + key + "\"");
            skipSpace();
            if (!eat(':')) return fail("expected ':' after the key");
            skipSpace();
            out->members.emplace_back(std::move(key), Value{});
            if (!value(&out->members.back().second, depth)) return false;
            skipSpace();
            if (eat('}')) return true;
            if (!eat(',')) return fail("expected ',' or '}'");
            skipSpace();
        }
    }

    bool array(Value* out, int depth) {
        out->type = Value::Type::Array;
        ++pos_;  // '['
        skipSpace();
        if (eat(']')) return true;
        for (;;) {
            out->items.emplace_back();
            if (!value(&out->items.back(), depth)) return false;
            skipSpace();
            if (eat(']')) return true;
            if (!eat(',')) return fail("expected ',' or ']'");
            skipSpace();
        }
    }

    bool digits() {
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    bool number(Value* out) {
        const std::size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0') {
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                return fail("a number must not begin with 0");
        } else if (!digits()) {
            return fail("expected a digit");
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!digits()) return fail("expected a digit after '.'");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!digits()) return fail("expected a digit in the exponent");
        }
        out->type = Value::Type::Number;
        out->text.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(std::uint32_t* v) {
        if (s_.size() - pos_ < 4) return fail("expected four hexadecimal digits after \\u");
        std::uint32_t r = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_ + static_cast<std::size_t>(i)];
            r <<= 4;
            if (c >= '0' && c <= '9') r |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') r |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') r |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return fail("expected four hexadecimal digits after \\u");
        }
        pos_ += 4;
        *v = r;
        return true;
    }

    // \uXXXX, with pos_ just after the 'u'; a surrogate pair gives one character.
    bool unicodeEscape(std::string* out) {
        const std::size_t escapePos = pos_ - 2;
        std::uint32_t cp = 0;
        if (!hex4(&cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return failAt(escapePos, "a low surrogate without a high surrogate before it");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (s_.substr(pos_, 2) != "\\u" || (pos_ += 2, !hex4(&low)) || low < 0xDC00 || low > 0xDFFF)
                return failAt(escapePos, "a high surrogate without a low surrogate after it");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(*out, cp);
        return true;
    }

    bool string(std::string* out) {
        ++pos_;  // opening quote
        for (;;) {
            if (pos_ >= s_.size()) return fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return fail("a control character in a string must be escaped");
            if (c == '\\') {
                if (++pos_ >= s_.size()) return fail("unterminated string");
                const char e = s_[pos_++];
                switch (e) {
                    case '"': *out += '"'; break;
                    case '\\': *out += '\\'; break;
                    case '/': *out += '/'; break;
                    case 'b': *out += '\b'; break;
                    case 'f': *out += '\f'; break;
                    case 'n': *out += '\n'; break;
                    case 'r': *out += '\r'; break;
                    case 't': *out += '\t'; break;
                    case 'u':
                        if (!unicodeEscape(out)) return false;
                        break;
                    default: return failAt(pos_ - 2, std::string("unknown escape \\") + e);
                }
                continue;
            }
            const std::size_t n = utf8SequenceLength(
                reinterpret_cast<const unsigned char*>(s_.data()) + pos_, s_.size() - pos_);
            if (n == 0) return fail("invalid UTF-8 in a string");
            out->append(s_.substr(pos_, n));
            pos_ += n;
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::size_t failPos_ = 0;
    std::string message_;
};

}  // namespace

bool parse(std::string_view text, Value* out, std::string* error) {
    *out = Value{};
    return Reader(text).document(out, error);
}

}  // namespace ostrakan::json_reader
