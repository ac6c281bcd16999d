// ostrakan-sim: the simulated controller and modem on a pseudo-terminal (or a
// serial device), until SIGTERM or SIGINT.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/sim/device_model.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_server.h"

namespace {

// The stop pipe's write end: set before the handlers are installed, then only
// read by the signal handler, which writes to it to end the server.
int gStopWrite = -1;

extern "C" void onSignal(int) {
    const char one = 1;
    if (gStopWrite >= 0) (void)!::write(gStopWrite, &one, 1);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ostrakan::sim;
    using ostrakan::PseudoTerminal;
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

    int stopPipe[2];
    if (::pipe(stopPipe) != 0) {
        std::perror("ostrakan-sim: pipe");
        return 1;
    }
    gStopWrite = stopPipe[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    int traceFd = options.trace ? STDERR_FILENO : -1;
    if (!options.traceFile.empty()) {
        traceFd = ::open(options.traceFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (traceFd < 0) {
            std::fprintf(stderr, "ostrakan-sim: cannot open %s: %s\n", options.traceFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    PseudoTerminal pty;
    int lineFd = -1;
    std::string path;
    if (!options.device.empty()) {
        if (!openSerialDevice(options.device, &lineFd, &error)) {
            std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
            return 1;
        }
        path = options.device;
    } else {
        if (!ostrakan::openPseudoTerminal(&pty, &error)) {
            std::fprintf(stderr, "ostrakan-sim: %s\n", error.c_str());
            return 1;
        }
        lineFd = pty.master;
        path = pty.slavePath;
        if (!options.link.empty()) {
            ::unlink(options.link.c_str());  // a link left by an earlier run
            if (::symlink(path.c_str(), options.link.c_str()) != 0) {
                std::fprintf(stderr, "ostrakan-sim: cannot link %s: %s\n", options.link.c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
    }

    DeviceModel model(options.blank);
    model.modem.echo = options.echo;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "ostrakan-sim: serving %s%s%s\n", path.c_str(),
                 options.link.empty() ? "" : " as ", options.link.c_str());

    SimServer server(model, options.faults, traceFd);
    server.setHangUpAfter(options.hangUpAfter);
    for (;;) {
        const ServeEnd end = server.serve(lineFd, stopPipe[0]);
        if (end == ServeEnd::Stopped) break;
        if (end == ServeEnd::Unplugged) {
            // The device is pulled: the program's side of the line hangs up.
            std::fprintf(stderr, "ostrakan-sim: hanging up %s\n", path.c_str());
            if (options.device.empty()) closePseudoTerminal(&pty);
            else ::close(lineFd);
            lineFd = -1;
            pauseUnlessStopped(stopPipe[0], -1);
            break;
        }
        if (options.device.empty()) {
            // Nobody holds the pseudo-terminal's other side just now.
            if (!pauseUnlessStopped(stopPipe[0], 100)) break;
            continue;
        }
        // The device went away (an adapter pulled): open it again once it is back.
        std::fprintf(stderr, "ostrakan-sim: %s hung up; waiting for it to come back\n", path.c_str());
        ::close(lineFd);
        lineFd = -1;
        while (!openSerialDevice(options.device, &lineFd, &error))
            if (!pauseUnlessStopped(stopPipe[0], 500)) break;
        if (lineFd < 0) break;
        std::fprintf(stderr, "ostrakan-sim: serving %s again\n", path.c_str());
    }

    if (!options.link.empty()) ::unlink(options.link.c_str());
    if (options.device.empty()) ostrakan::closePseudoTerminal(&pty);
    else if (lineFd >= 0) ::close(lineFd);
    return 0;
}
