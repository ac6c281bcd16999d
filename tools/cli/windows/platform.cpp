#include "tools/cli/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/cli/cli.h"

namespace ostrakan::cli {

namespace {

// Set once by catchInterrupts, before the handler can run; the handler runs on
// a thread the system makes for it.
std::atomic<int>* gInterrupted = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (!gInterrupted) return FALSE;
    // SIGINT's number, as on POSIX: exit status 130. A second Ctrl-C ends the
    // program at once: the user will not wait for the port to close. Ended by the
    // system, so no lock another thread holds (the C runtime's) is waited for.
    if (gInterrupted->exchange(2) != 0 && event != CTRL_CLOSE_EVENT)
        TerminateProcess(GetCurrentProcess(), 130);
    // Closing the console ends the process when this returns: give the command
    // a moment to close its port first.
    if (event == CTRL_CLOSE_EVENT) Sleep(1500);
    return TRUE;
}

std::wstring widen(const char* utf8, int size) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, size, wide.data(), n);
    return wide;
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// UTF-8 text to the console as UTF-16, or its bytes to a file or pipe.
void writeText(DWORD which, FILE* stream, const char* format, va_list args) {
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::vector<char> large;
    const char* text = small;
    if (static_cast<std::size_t>(n) >= sizeof small) {
        large.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(large.data(), large.size(), format, args);
        text = large.data();
    }
    HANDLE handle = GetStdHandle(which);
    if (isConsole(handle)) {
        std::fflush(stream);
        const std::wstring wide = widen(text, n);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        std::fwrite(text, 1, static_cast<std::size_t>(n), stream);
        if (stream == stderr) std::fflush(stream);
    }
}

class NoSimulator : public BuiltInSimulator {
public:
    std::string start(std::string* why, int* status) override {
        *why = "the built-in simulator (--port sim) runs on Linux only; give a COM port";
        *status = kExitUsage;
        return {};
    }
};

}  // namespace

void catchInterrupts(std::atomic<int>* interrupted) {
    gInterrupted = interrupted;
    stopListingOn(interrupted);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void printOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeText(STD_OUTPUT_HANDLE, stdout, format, args);
    va_end(args);
}

void printErr(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeText(STD_ERROR_HANDLE, stderr, format, args);
    va_end(args);
}

void flushOut() { std::fflush(stdout); }

// A console that takes the terminal sequences the live table redraws itself
// with (Windows 10 and later); an older one gets plain lines.
bool stderrIsTerminal() {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!isConsole(handle) || !GetConsoleMode(handle, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool readPassword(std::string* password, std::size_t limit, const std::atomic<int>& interrupted) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (in != INVALID_HANDLE_VALUE && in != nullptr && GetConsoleMode(in, &saved)) {
        printErr("Password: ");
        SetConsoleMode(in, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        wchar_t buffer[256];
        DWORD got = 0;
        // Ctrl-C ends the read (the handler has run by then).
        const BOOL ok = ReadConsoleW(in, buffer, sizeof buffer / sizeof buffer[0], &got, nullptr);
        SetConsoleMode(in, saved);
        printErr("\n");
        if (!ok || interrupted.load() != 0) return false;
        std::wstring line(buffer, got);
        while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
        const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
        password->assign(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), password->data(), n,
                                nullptr, nullptr);
        return true;
    }
    // Not a console: the first line of what is piped in, taken as UTF-8.
    while (interrupted.load() == 0 && password->size() <= limit) {
        const int c = std::fgetc(stdin);
        if (c == EOF || c == '\n') break;
        password->push_back(static_cast<char>(c));
    }
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return interrupted.load() == 0;
}

void restrictNewFiles() {}  // a new file takes its folder's permissions

std::string portName(const std::string& typed) { return comNameOf(typed); }

bool opensAsDevice(const std::string&) { return false; }

int openTraceFile(const std::string& path, std::string* why) {
    const std::wstring wide = widen(path.c_str(), static_cast<int>(path.size()));
    const int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) *why = std::strerror(errno);
    return fd;
}

std::string openFailure(const PortLine& line) {
    const std::string port = line.lastDevice();
    switch (line.lastOpenError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return port + ": no such port; \"ostrakan-cli ports\" lists the serial ports present";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return port + ": in use by another program";
    default: break;
    }
    wchar_t text[256] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   line.lastOpenError(), 0, text, sizeof text / sizeof text[0], nullptr);
    std::wstring why(text, n);
    while (!why.empty() && (why.back() == L'\n' || why.back() == L'\r' || why.back() == L'.')) why.pop_back();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, why.data(), static_cast<int>(why.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, why.data(), static_cast<int>(why.size()), utf8.data(), bytes, nullptr,
                            nullptr);
    if (utf8.empty()) utf8 = "system error " + std::to_string(line.lastOpenError());
    return port + ": " + utf8;
}

std::unique_ptr<BuiltInSimulator> makeBuiltInSimulator() { return std::make_unique<NoSimulator>(); }

}  // namespace ostrakan::cli
