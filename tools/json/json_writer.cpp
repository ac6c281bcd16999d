#include "tools/json/json_writer.h"

#include <cstdint>
#include <cstdio>

namespace ostrakan {

namespace {

// The length of the valid UTF-8 sequence at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t lead = b(i);
    std::size_t n = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) n = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) n = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) n = 4, min = 0x10000;
    else return 0;
    if (i + n > s.size()) return 0;
    std::uint32_t code = lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

void JsonWriter::newLine(std::size_t depth) {
    out_ += '\n';
    for (std::size_t i = 0; i < depth; ++i)
        if (open_[i].layout == Layout::Lines) out_ += "  ";
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (open_.empty()) return;
    Open& o = open_.back();
    if (o.hasMember) out_ += o.layout == Layout::Lines ? "," : ", ";
    if (o.layout == Layout::Lines) newLine(open_.size());
    o.hasMember = true;
}

JsonWriter& JsonWriter::open(char bracket, Layout layout) {
    beforeValue();
    out_ += bracket;
    open_.push_back({false, layout});
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    const Open o = open_.back();
    open_.pop_back();
    if (o.layout == Layout::Lines && o.hasMember) newLine(open_.size());
    out_ += bracket;
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ += jsonQuoted(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view utf8) {
    beforeValue();
    out_ += jsonQuoted(utf8);
    return *this;
}

JsonWriter& JsonWriter::value(bool b) {
    beforeValue();
    out_ += b ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::value(long long n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

JsonWriter& JsonWriter::fixed(double n, int decimals) {
    beforeValue();
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, n);
    out_ += text;
    return *this;
}

JsonWriter& JsonWriter::null() {
    beforeValue();
    out_ += "null";
    return *this;
}

std::string jsonQuoted(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        const std::size_t n = utf8Length(s, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

}  // namespace ostrakan
