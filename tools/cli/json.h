// A small JSON writer for the tool's machine-readable output: one document built
// in a string, members separated ", " and keys ": ", on one line. Strings are
// taken as UTF-8 and escaped as RFC 8259 asks; a byte that is not part of valid
// UTF-8 becomes U+FFFD, so the document is always valid.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrakan::cli {

class JsonWriter {
public:
    JsonWriter& beginObject() { return open('{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray() { return open('['); }
    JsonWriter& endArray() { return close(']'); }
    // The next value's key; only inside an object.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view utf8);
    JsonWriter& value(const char* utf8) { return value(std::string_view(utf8)); }
    JsonWriter& value(bool b);
    JsonWriter& value(long long n);
    JsonWriter& null();

    const std::string& text() const { return out_; }

private:
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
    void beforeValue();
    void putString(std::string_view utf8);

    std::string out_;
    std::vector<bool> hasMember_;  // per open bracket: a member is written already
    bool afterKey_ = false;
};

}  // namespace ostrakan::cli
