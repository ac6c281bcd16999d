#include "tools/cli/text_encoding.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace ostrakan::cli {

namespace {

const char kDevice[] = "CP1251";
std::string gLocale = "UTF-8";  // the locale's codeset
bool gAsciiLocale = false;      // C or POSIX, taken as UTF-8

// Converts with iconv. A character `to` cannot hold (or bytes no text in `from`):
// with `replace` a '?' in its place (one byte skipped), else false with
// *failedAt set to its offset.
bool convert(const char* from, const char* to, const std::string& in, std::string* out, bool replace,
             std::size_t* failedAt) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // useTerminalEncoding found every converter; bytes passed through
        // unconverted would reach the device as the wrong letters.
        *out = in;
        *failedAt = 0;
        return false;
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
    // The C and POSIX locales name no character set beyond ASCII, yet they are
    // what cron, systemd units and many SSH sessions run in, and the terminal and
    // the files are UTF-8 there nearly always. Taken as UTF-8, "Иван" reaches the
    // device as C8 E2 E0 ED; bytes that are no UTF-8 are refused, never sent as
    // if they were 1251.
    const char* codeset = ::nl_langinfo(CODESET);
    gAsciiLocale = !codeset || !*codeset || std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
    gLocale = gAsciiLocale ? "UTF-8" : codeset;
    // Every converter the tool may need, before anything is sent.
    for (const char* from : {gLocale.c_str(), "UTF-8"})
        for (const auto& [a, b] : {std::pair<const char*, const char*>{from, kDevice}, {kDevice, from}}) {
            iconv_t cd = ::iconv_open(b, a);
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                ::iconv_close(cd);
                continue;
            }
            std::fprintf(stderr,
                         "ostrakan-cli: the system cannot convert %s to %s (iconv has no converter); texts "
                         "would reach the device unconverted. Run with LANG=C.UTF-8, or install the C "
                         "library's converters (gconv modules)\n",
                         a, b);
            std::exit(2);
        }
}

bool toCp1251(const std::string& text, std::string* out, std::string* offending) {
    std::size_t at = 0;
    if (convert(gLocale.c_str(), kDevice, text, out, false, &at)) return true;
    // The whole character that failed, as long as the locale says it is.
    std::mbstate_t state{};
    std::size_t n = std::mbrlen(text.data() + at, text.size() - at, &state);
    if (gAsciiLocale) {  // the C library reads no UTF-8 there: its lead byte says
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    }
    *offending = text.substr(at, n == 0 || n > 8 ? 1 : n);
    return false;
}

std::string fromCp1251(const std::string& bytes) {
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
