// UTF-8 to code page 1251 through the C library's converter, as the
// command-line tool converts: the profile suites check texts with it.
#pragma once

#include <iconv.h>

#include <string>

namespace ostrakan {

inline bool toCp1251(const std::string& utf8, std::string* out) {
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = utf8;
    out->assign(in.size(), '\0');
    char* src = in.data();
    char* dst = out->data();
    std::size_t left = in.size(), room = out->size();
    const bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - room);
    return ok;
}

}  // namespace ostrakan
