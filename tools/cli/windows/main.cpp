// ostrakan-cli.exe: the arguments as the system has them, UTF-16 (msvcrt's wide
// start-up code, no SHELL32), handed to the tool as UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/cli/cli.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> texts;
    for (int i = 0; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), n, nullptr, nullptr);
        text.resize(text.size() - 1);  // the terminating zero
        texts.push_back(text);
    }
    std::vector<char*> pointers;
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return ostrakan::cli::run(argc, pointers.data());
}
