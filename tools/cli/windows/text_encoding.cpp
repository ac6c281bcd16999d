// The console's side of the encoding on Windows. The program reads its
// arguments as UTF-16 (wmain) and hands them on as UTF-8; what it prints is UTF-8,
// which the output functions write to a console as UTF-16 (WriteConsoleW) and to
// a file or pipe as it is. So "the terminal's encoding" here is UTF-8, and the
// one step to the device's code page is WideCharToMultiByte to 1251 without
// best-fit replacements: a character 1251 cannot hold is refused, not turned
// into a look-alike.
#include "tools/cli/text_encoding.h"

#include <windows.h>

namespace ostrakan::cli {

namespace {

constexpr UINT kDevice = 1251;

std::wstring widen(UINT codePage, const std::string& bytes, DWORD flags) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), n);
    return wide;
}

// UTF-16 to 1251; false when a character has no byte of its own there.
bool narrowTo1251(const std::wstring& wide, std::string* out) {
    out->clear();
    if (wide.empty()) return true;
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kDevice, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr,
                                      &usedDefault);
    if (n <= 0) return false;
    out->assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(kDevice, WC_NO_BEST_FIT_CHARS, wide.data(), size, out->data(), n, nullptr, &usedDefault);
    return !usedDefault;
}

}  // namespace

void useTerminalEncoding() {}

bool toCp1251(const std::string& text, std::string* out, std::string* offending) {
    const std::wstring wide = widen(CP_UTF8, text, MB_ERR_INVALID_CHARS);
    if (wide.empty() && !text.empty()) {
        *offending = text.substr(0, 1);
        return false;
    }
    if (narrowTo1251(wide, out)) return true;
    // The first character (a surrogate pair counts as one) that does not convert.
    std::string ignored;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const std::size_t n = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
        const std::wstring one = wide.substr(i, n);
        if (!narrowTo1251(one, &ignored)) {
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, one.data(), static_cast<int>(n), nullptr, 0, nullptr,
                                                  nullptr);
            offending->assign(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
            WideCharToMultiByte(CP_UTF8, 0, one.data(), static_cast<int>(n), offending->data(), bytes, nullptr,
                                nullptr);
            break;
        }
        i += n - 1;
    }
    return false;
}

std::string cp1251ToUtf8(const std::string& bytes) {
    const std::wstring wide = widen(kDevice, bytes, 0);
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string fromCp1251(const std::string& bytes) { return cp1251ToUtf8(bytes); }

// The arguments are UTF-8 here already.
bool utf8ToCp1251(const std::string& utf8, std::string* out) {
    std::string offending;
    return toCp1251(utf8, out, &offending);
}

}  // namespace ostrakan::cli
