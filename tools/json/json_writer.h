// The JSON writer of the tools: the command-line tool's machine-readable output,
// the provisioning report and the profile files. One document built in a string.
// Strings are taken as UTF-8 and escaped as RFC 8259 asks; a byte that is not part
// of valid UTF-8 becomes U+FFFD, so the document is always valid.
//
// Layout per container: Inline (the default) puts its members on one line,
// separated ", "; Lines puts each member on a line of its own, indented two
// spaces per enclosing Lines container. Keys are followed by ": ".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrakan {

// The text as a JSON string literal, quotes included.
std::string jsonQuoted(std::string_view utf8);

class JsonWriter {
public:
    enum class Layout { Inline, Lines };

    JsonWriter& beginObject(Layout layout = Layout::Inline) { return open('{', layout); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray(Layout layout = Layout::Inline) { return open('[', layout); }
    JsonWriter& endArray() { return close(']'); }
    // The next value's key; only inside an object.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view utf8);
    JsonWriter& value(const char* utf8) { return value(std::string_view(utf8)); }
    JsonWriter& value(bool b);
    JsonWriter& value(long long n);
    // A number with a fixed count of decimals, e.g. 12.34.
    JsonWriter& fixed(double n, int decimals);
    JsonWriter& null();

    const std::string& text() const { return out_; }

private:
    struct Open {
        bool hasMember;
        Layout layout;
    };
    JsonWriter& open(char bracket, Layout layout);
    JsonWriter& close(char bracket);
    void beforeValue();
    void newLine(std::size_t depth);

    std::string out_;
    std::vector<Open> open_;  // the containers not yet closed, outermost first
    bool afterKey_ = false;
};

}  // namespace ostrakan
