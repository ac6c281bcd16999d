// What ostrakan-cli needs of the system it runs on: the port's line and its host
// loop, Ctrl-C, the console, the ports present, the built-in simulator and the
// words for a port that did not open. tools/cli/unix/platform.cpp and
// tools/cli/windows/platform.cpp define the functions; the rest of the tool is
// the same on both.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#ifdef _WIN32
#include "app/windows/host_loop.h"
#include "serial/windows/port_list.h"
#include "serial/windows/win32_line.h"
#else
#include "app/unix/host_loop.h"
#include "serial/unix/port_list.h"
#include "serial/unix/posix_line.h"
#endif

#if defined(__MINGW32__)
#define OSTRAKAN_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define OSTRAKAN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace ostrakan::cli {

#ifdef _WIN32
using PortLine = Win32Line;
#else
using PortLine = PosixLine;
#endif

// Standard error's C descriptor, for the line's trace.
constexpr int kStandardError = 2;

// From now on Ctrl-C (and on POSIX SIGTERM) stores its signal's number in
// *interrupted (2 for Ctrl-C everywhere, so that the exit status 128 + it is 130)
// instead of ending the program: the command closes its port and leaves.
void catchInterrupts(std::atomic<int>* interrupted);

// printf to standard output and standard error. The text is in the terminal's
// encoding as fromCp1251 makes it; on Windows that is UTF-8, written to a
// console as UTF-16 and to a file or pipe as it is.
void printOut(const char* format, ...) OSTRAKAN_PRINTF(1, 2);
void printErr(const char* format, ...) OSTRAKAN_PRINTF(1, 2);
void flushOut();

// Whether standard error is a terminal (a live table is then redrawn in place).
bool stderrIsTerminal();

// "--password -": asks on the terminal without echo, or reads the first line of
// standard input when that is no terminal. Stops after `limit` + 1 bytes, so an
// input that never ends (/dev/zero) neither grows without bound nor outlives
// Ctrl-C or SIGTERM, which are looked at after every byte. False when nothing
// could be read or a signal ended the wait.
bool readPassword(std::string* password, std::size_t limit, const std::atomic<int>& interrupted);

// What the program creates ("_data.ini", which holds the modem password) is for
// its owner only, where the system has modes for that.
void restrictNewFiles();

// The port as typed, as the line opens it: on Windows "\\.\COM10" is COM10.
std::string portName(const std::string& typed);
// True for a name the line opens as it is (a device path on POSIX); false for
// a COM name, which goes through the window's open command and its name check.
bool opensAsDevice(const std::string& name);

// A session trace file opened for appending (created for its owner only where
// the system has modes); its descriptor, or -1 with *why set.
int openTraceFile(const std::string& path, std::string* why);

// Why the port did not open, in words the user can act on.
std::string openFailure(const PortLine& line);

// "--port sim": the simulated device, served in this process. Holds it until
// destroyed. On a system without it, start() says why and gives exit status 2.
class BuiltInSimulator {
public:
    virtual ~BuiltInSimulator() = default;
    // The device to open, or "" with *why and *status set.
    virtual std::string start(std::string* why, int* status) = 0;
};
std::unique_ptr<BuiltInSimulator> makeBuiltInSimulator();

}  // namespace ostrakan::cli
