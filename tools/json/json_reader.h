// A small strict JSON reader (RFC 8259) for profiles: the whole document into a
// tree, or an error with its line and column. Strict where a lenient reader would
// hide a mistake in a hand-edited file: no trailing commas, comments, single
// quotes or trailing garbage, no duplicate keys, no lone surrogates, and strings
// must be valid UTF-8. A UTF-8 byte-order mark at the start is skipped, since
// Windows editors write one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrakan::json_reader {

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };

    Type type = Type::Null;
    bool boolean = false;
    // A string's bytes (UTF-8, escapes resolved), or a number's literal text as it
    // stands in the file (profiles hold no numbers, so none is converted).
    std::string text;
    std::vector<Value> items;                             // Array
    std::vector<std::pair<std::string, Value>> members;   // Object, in file order

    // The member with this key, or nullptr.
    const Value* find(std::string_view key) const;
};

// What a value's type is called in messages: "a string", "an object", "null", ...
const char* typeName(Value::Type type);

// Nesting deeper than this is refused (it also bounds the reader's recursion).
constexpr int kMaxDepth = 64;

// Reads one JSON document. On failure returns false and sets *error to
// "line L, column C: what" (1-based; the column counts characters, not bytes).
bool parse(std::string_view text, Value* out, std::string* error);

}  // namespace ostrakan::json_reader
