#include "tools/cli/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "serial/unix/port_map.h"
#include "serial/unix/pseudo_terminal.h"
#include "serial/unix/tty_io.h"
#include "tools/cli/cli.h"
#include "tools/sim/device_model.h"
#include "tools/sim/sim_server.h"

namespace ostrakan::cli {

namespace {

// Set once by catchInterrupts, before the handlers are installed.
std::atomic<int>* gInterrupted = nullptr;

extern "C" void onInterrupt(int signal) { gInterrupted->store(signal); }

// The simulated device on a pseudo-terminal of its own. The model and the
// pseudo-terminal's master side belong to the server thread once it runs; the
// program reaches the device only through the slave side, like a real port.
// stopPipe is written by the destructor on the main thread to end the server.
class PtySimulator : public BuiltInSimulator {
public:
    std::string start(std::string* why, int* status) override {
        *status = kExitPort;
        if (!openPseudoTerminal(&pty_, why)) return {};
        if (::pipe(stopPipe_) != 0) {
            *why = "cannot create a pipe";
            return {};
        }
        server_ = std::thread([this] { sim::SimServer(model_, {}, -1).serve(pty_.master, stopPipe_[0]); });
        return pty_.slavePath;
    }
    ~PtySimulator() override {
        if (server_.joinable()) {
            const char one = 1;
            (void)!::write(stopPipe_[1], &one, 1);
            server_.join();
        }
        for (int fd : stopPipe_)
            if (fd >= 0) ::close(fd);
        closePseudoTerminal(&pty_);
    }

private:
    PseudoTerminal pty_;
    sim::DeviceModel model_;
    int stopPipe_[2] = {-1, -1};
    std::thread server_;
};

}  // namespace

void catchInterrupts(std::atomic<int>* interrupted) {
    gInterrupted = interrupted;
    catchStopSignals(onInterrupt);  // a read waiting for a password returns at once
    // A closed pipe on stdout is a write error to report (exit 5), not a silent death.
    ::signal(SIGPIPE, SIG_IGN);
}

void printOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void printErr(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void flushOut() { std::fflush(stdout); }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

// Read byte by byte so that Ctrl-C ends the wait (read() returns EINTR) and the
// echo is restored.
bool readPassword(std::string* password, const std::atomic<int>& interrupted) {
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool ok = true;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && interrupted.load() == 0) continue;
        if (n < 0) ok = false;
        if (n <= 0 || c == '\n') break;
        password->push_back(c);
    }
    if (terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return ok && interrupted.load() == 0;
}

// A file replaced keeps its mode.
void restrictNewFiles() { ::umask(077); }

std::string portName(const std::string& typed) { return typed; }

bool opensAsDevice(const std::string& name) { return isDevicePath(name.c_str()); }

int openTraceFile(const std::string& path, std::string* why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) *why = std::strerror(errno);
    return fd;
}

std::string openFailure(const PortLine& line) {
    const std::string device = line.lastDevice();
    if (!uartPresent(device))
        return device + ": no UART behind this port; \"ostrakan-cli ports\" lists the serial ports present";
    switch (line.lastFailure()) {
    case OpenFailure::PermissionDenied: {
        // Joining the group helps only when the group may read and write it.
        struct stat st {};
        const std::string group = deviceGroup(device);
        if (group.empty() || group == "root" || ::stat(device.c_str(), &st) != 0 || (st.st_mode & 060) != 060)
            return device + ": permission denied; only its owner may open it (a udev rule can give it a group)";
        return device + ": permission denied; the device belongs to group " + group + ": sudo usermod -aG " +
               group + " $USER, then log in again";
    }
    case OpenFailure::InUse: {
        std::string text = device + ": in use by another program";
        const std::string holders = deviceHolders(device);
        if (!holders.empty()) text += " (" + holders + ")";
        if (programInstalled("ModemManager"))
            text += "; ModemManager may be probing it (sudo systemctl stop ModemManager)";
        if (programInstalled("brltty"))
            text += "; brltty claims some USB serial adapters such as CH34x (sudo apt remove brltty)";
        return text;
    }
    default: {
        char why[kDevicePathRoom + 160];
        line.describeFailure(why, sizeof why);
        return why;
    }
    }
}

std::unique_ptr<BuiltInSimulator> makeBuiltInSimulator() { return std::make_unique<PtySimulator>(); }

}  // namespace ostrakan::cli
