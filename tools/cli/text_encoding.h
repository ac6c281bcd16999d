// The terminal's encoding at the tool's edge. Inside, every text is code-page-1251
// bytes, as the Windows program keeps, sends and saves it; arguments are turned
// into 1251 and what is printed back into the locale's encoding (iconv, after
// setlocale(LC_ALL, "")). In the C/POSIX locale, which names no encoding beyond
// ASCII, bytes pass through unchanged both ways, as they always have.
#pragma once

#include <string>

namespace ostrakan::cli {

// Reads the locale from the environment; call once before the others.
void useTerminalEncoding();

// `text` in the locale's encoding to 1251. False when it holds a character 1251
// cannot hold or bytes that are no text in the locale's encoding; *offending
// then names it (in the locale's encoding).
bool toCp1251(const std::string& text, std::string* out, std::string* offending);

// 1251 bytes for the terminal; a character it cannot show becomes '?'.
std::string fromCp1251(const std::string& bytes);

// UTF-8 (a profile's texts) to 1251; false for a character 1251 cannot hold.
bool utf8ToCp1251(const std::string& utf8, std::string* out);

// 1251 bytes as UTF-8 (for JSON, whatever the locale).
std::string cp1251ToUtf8(const std::string& bytes);

}  // namespace ostrakan::cli
