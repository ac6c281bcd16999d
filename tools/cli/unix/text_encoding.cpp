#include "tools/cli/text_encoding.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <cwchar>

namespace ostrakan::cli {

namespace {

const char kDevice[] = "CP1251";
std::string gLocale;  // the locale's codeset; empty: pass bytes through

// Converts with iconv. A character `to` cannot hold (or bytes no text in `from`):
// with `replace` a '?' in its place (one byte skipped), else false with
// *failedAt set to its offset.
bool convert(const char* from, const char* to, const std::string& in, std::string* out, bool replace,
             std::size_t* failedAt) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        *out = in;  // no converter: the bytes as they are
        return true;
    }
    out->clear();
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    bool ok = true;
    while (srcLeft > 0) {
        char chunk[256];
        char* dst = chunk;
        std::size_t dstLeft = sizeof chunk;
        const std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out->append(chunk, static_cast<std::size_t>(dst - chunk));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        if (!replace) {
            *failedAt = static_cast<std::size_t>(src - in.data());
            ok = false;
            break;
        }
        out->push_back('?');
        ++src;
        --srcLeft;
    }
    ::iconv_close(cd);
    return ok;
}

}  // namespace

void useTerminalEncoding() {
    std::setlocale(LC_ALL, "");
    const char* codeset = ::nl_langinfo(CODESET);
    gLocale = codeset && std::strcmp(codeset, "ANSI_X3.4-1968") != 0 ? codeset : "";
}

bool toCp1251(const std::string& text, std::string* out, std::string* offending) {
    if (gLocale.empty()) {
        *out = text;
        return true;
    }
    std::size_t at = 0;
    if (convert(gLocale.c_str(), kDevice, text, out, false, &at)) return true;
    // The whole character that failed, as long as the locale says it is.
    std::mbstate_t state{};
    const std::size_t n = std::mbrlen(text.data() + at, text.size() - at, &state);
    *offending = text.substr(at, n == 0 || n > 8 ? 1 : n);
    return false;
}

std::string fromCp1251(const std::string& bytes) {
    if (gLocale.empty()) return bytes;
    std::string out;
    std::size_t at = 0;
    convert(kDevice, gLocale.c_str(), bytes, &out, true, &at);
    return out;
}

bool utf8ToCp1251(const std::string& utf8, std::string* out) {
    std::size_t at = 0;
    return convert("UTF-8", kDevice, utf8, out, false, &at);
}

std::string cp1251ToUtf8(const std::string& bytes) {
    std::string out;
    std::size_t at = 0;
    convert(kDevice, "UTF-8", bytes, &out, true, &at);
    return out;
}

}  // namespace ostrakan::cli
