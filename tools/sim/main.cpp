// ostrakan-sim: the simulated controller and modem on pseudo-terminals (one per
// unit) or on a serial device, until SIGTERM or SIGINT.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/trace.h"
#include "serial/unix/tty_io.h"
#include "tools/sim/device_model.h"
#include "tools/sim/replay.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_server.h"
#include "version.h"

namespace {

using namespace ostrakan::sim;
using ostrakan::PseudoTerminal;

// The stop pipe's write end: set before the handlers are installed, then only
// read by the signal handler, which writes to it to end every server. Nobody
// reads the pipe, so it stays readable for all of them.
int gStopWrite = -1;

extern "C" void onSignal(int) {
    const char one = 1;
    if (gStopWrite >= 0) (void)!::write(gStopWrite, &one, 1);
}

// One simulated unit: everything in it belongs to its thread once that runs.
struct Unit {
    int number = 1;
    PseudoTerminal pty;
    std::string link;
    int traceFd = -1;
    bool ownTrace = false;  // a file of its own, closed at exit
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<SimServer> server;
    std::thread thread;
};

int openTrace(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) std::fprintf(stderr, "ostrakan-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    else ostrakan::beginSessionTrace(fd, "ostrakan-sim " OSTRAKAN_VERSION);
    return fd;
}

// Serves a pseudo-terminal until stopped or, with --hang-up-after, until the
// unit is pulled.
void serveUnit(Unit& unit, int stopFd) {
    for (;;) {
        const ServeEnd end = unit.server->serve(unit.pty.master, stopFd);
        if (end == ServeEnd::Stopped) return;
        if (end == ServeEnd::Unplugged) {
            // The device is pulled: the program's side of the line hangs up.
            std::fprintf(stderr, "ostrakan-sim: hanging up %s\n", unit.pty.slavePath.c_str());
            closePseudoTerminal(&unit.pty);
            pauseUnlessStopped(stopFd, -1);
            return;
        }
        // Nobody holds the pseudo-terminal's other side just now.
        if (!pauseUnlessStopped(stopFd, 100)) return;
    }
}

// --device: one unit on an existing serial device, opened again after a hang-up.
int serveDevice(const SimOptions& options, SimServer& server, int stopFd) {
    std::string error;
    int lineFd = -1;
    const std::string& path = options.device;
    if (!openSerialDevice(path, &lineFd, &error)) {
        std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "ostrakan-sim: serving %s\n", path.c_str());
    for (;;) {
        const ServeEnd end = server.serve(lineFd, stopFd);
        if (end == ServeEnd::Stopped) break;
        if (end == ServeEnd::Unplugged) {
            std::fprintf(stderr, "ostrakan-sim: hanging up %s\n", path.c_str());
            ::close(lineFd);
            lineFd = -1;
            pauseUnlessStopped(stopFd, -1);
            break;
        }
        // The device went away (an adapter pulled): open it again once it is back.
        std::fprintf(stderr, "ostrakan-sim: %s hung up; waiting for it to come back\n", path.c_str());
        ::close(lineFd);
        lineFd = -1;
        while (!openSerialDevice(path, &lineFd, &error))
            if (!pauseUnlessStopped(stopFd, 500)) break;
        if (lineFd < 0) break;
        std::fprintf(stderr, "ostrakan-sim: serving %s again\n", path.c_str());
    }
    if (lineFd >= 0) ::close(lineFd);
    return 0;
}

// The link of unit `number`, or "" for none.
std::string linkOf(const SimOptions& options, int number) {
    if (!options.linkDir.empty()) return options.linkDir + "/com" + std::to_string(number);
    return options.link;
}

// A link left by an earlier run may be replaced; anything else at the path is
// somebody's file or folder and stays.
bool mayReplace(const std::string& path, std::string* error) {
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, code);
    if (status.type() == std::filesystem::file_type::not_found) return true;
    if (code) {
        *error = "cannot look at " + path + ": " + code.message();
        return false;
    }
    if (std::filesystem::is_symlink(status)) return true;
    *error = path + " exists and is not a symbolic link; --link replaces only a link";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error, exitText;
    if (!parseSimOptions(argc, argv, 1, &options, &error, &exitText)) {
        std::fprintf(stderr, "ostrakan-sim: %s\nRun with --help for more information.\n", error.c_str());
        return 2;
    }
    if (!exitText.empty()) {
        std::fputs(exitText.c_str(), stdout);
        return 0;
    }
    if (options.device.empty())
        for (int number = 1; number <= options.units; ++number) {
            const std::string link = linkOf(options, number);
            if (!link.empty() && !mayReplace(link, &error)) {
                std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
                return 2;
            }
        }
    std::vector<RecordedExchange> recording;
    if (!options.replay.empty() && !loadRecording(options.replay, &recording, &error)) {
        std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
        return 2;
    }

    int stopPipe[2];
    if (::pipe(stopPipe) != 0) {
        std::perror("ostrakan-sim: pipe");
        return 1;
    }
    gStopWrite = stopPipe[1];
    ostrakan::catchStopSignals(onSignal);

    // Unit K of several traces to PATH.K, so each file is one line's session.
    std::vector<Unit> units(static_cast<std::size_t>(options.units));
    int status = 0;
    for (Unit& unit : units) {
        unit.number = static_cast<int>(&unit - units.data()) + 1;
        unit.traceFd = options.trace ? STDERR_FILENO : -1;
        if (!options.traceFile.empty()) {
            unit.traceFd = openTrace(options.units == 1 ? options.traceFile
                                                        : options.traceFile + "." + std::to_string(unit.number));
            if (unit.traceFd < 0) return 1;
            unit.ownTrace = true;
        }
        unit.model = std::make_unique<DeviceModel>(options.blank);
        unit.model->modem.echo = options.echo;
        unit.server = std::make_unique<SimServer>(*unit.model, faultsOfUnit(options.faults, unit.number), unit.traceFd);
        unit.server->setHangUpAfter(options.hangUpAfter);
        unit.server->setPace(options.pace);
        if (!options.replay.empty()) unit.server->setReplay(recording);
    }

    if (!options.device.empty()) {
        status = serveDevice(options, *units[0].server, stopPipe[0]);
    } else {
        for (Unit& unit : units) {
            if (!ostrakan::openPseudoTerminal(&unit.pty, &error)) {
                std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
                status = 1;
                break;
            }
            unit.link = linkOf(options, unit.number);
            if (unit.link.empty()) continue;
            // A link left by an earlier run (checked above, and again here).
            if (!mayReplace(unit.link, &error)) {
                std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
                unit.link.clear();
                status = 2;
                break;
            }
            ::unlink(unit.link.c_str());
            if (::symlink(unit.pty.slavePath.c_str(), unit.link.c_str()) != 0) {
                std::fprintf(stderr, "ostrakan-sim: cannot link %s: %s\n", unit.link.c_str(), std::strerror(errno));
                unit.link.clear();
                status = 1;
                break;
            }
        }
        if (status == 0) {
            // One path a line, unit 1 first: the first line is all a single unit prints.
            for (const Unit& unit : units) std::printf("%s\n", unit.pty.slavePath.c_str());
            std::fflush(stdout);
            for (Unit& unit : units) {
                std::fprintf(stderr, "ostrakan-sim: serving %s%s%s\n", unit.pty.slavePath.c_str(),
                             unit.link.empty() ? "" : " as ", unit.link.c_str());
                unit.thread = std::thread(serveUnit, std::ref(unit), stopPipe[0]);
            }
            for (Unit& unit : units) unit.thread.join();
        }
        for (Unit& unit : units) {
            if (!unit.link.empty()) ::unlink(unit.link.c_str());
            ostrakan::closePseudoTerminal(&unit.pty);
        }
    }
    for (Unit& unit : units) {
        if (!unit.ownTrace) continue;
        ostrakan::endSessionTrace(unit.traceFd);
        ::close(unit.traceFd);
    }
    return status;
}
