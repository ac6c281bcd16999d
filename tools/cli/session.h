// One port's session: the core with its controls in memory, the line and the
// host loop, and how a command runs one procedure on it as a user would (click
// the button, tick until the request flag drops).
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/core.h"
#include "app/headless_window.h"
#include "tools/cli/context.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

// One per port, made before anything runs (and before any provisioning worker
// starts): the controls, the buffers and the line are fixed storage, so nothing
// in the loop allocates. The loop is made when the port opens, on the thread
// that then runs it.
struct Session {
    explicit Session(const std::atomic<int>& stop) : interrupted(stop) {}
    HeadlessWindow window;
    LinkBuffers link;
    PortLine line{link};
    Core core{window, line, link};
    std::optional<HostLoop> loop;
    const std::atomic<int>& interrupted;
};

// How a procedure ended.
struct Waiting {
    Core* core;
    Request request;
    const ControllerProcedure* procedure;  // nullptr for the modem
    bool finished = false;
    bool timedOut = false;
    unsigned long guard = 0;
    const HostLoop* loop = nullptr;
    bool lost = false;  // the device went away: the core has closed the port
    const std::atomic<int>* interrupted = nullptr;
};

// Clicks the button and ticks until the procedure has lowered its request flag.
Waiting runProcedure(Session& s, int buttonId, Request request);

const char* textOf(Session& s, const TextField& field);

// After each procedure: Ctrl-C, or the device gone from under the open port (the
// back end reports it, and the core closes the port on it).
int afterProcedure(Session& s, std::string* why);
// A write is "sent" only when the driver took every byte of it.
int afterWrite(Session& s, const char* what, std::string* why);

// Opens `port` for the session: "sim" (the in-process simulator, started here),
// a device path, or a COM name through the window's open command. The session's
// loop is made first, on this thread (on Windows the line reports to the loop's
// window from the moment it opens), and kept only when the port opened.
int openSession(Session& s, const std::string& port, std::unique_ptr<BuiltInSimulator>* sim, std::string* why);

}  // namespace ostrakan::cli

namespace ostrakan::cli {

struct Parsed;

// A single-port command: makes the session, sets up its traces, opens the port
// named on the command line, runs `body` and closes the port. The exit status
// is body's, or the open's failure (printed).
int runOnPort(const Parsed& p, const Context& context, int (*body)(Session&, const void*), const void* data);

// The same with a callable taking the session.
template <class Body>
int runOnPort(const Parsed& p, const Context& context, Body body) {
    return runOnPort(
        p, context, [](Session& s, const void* b) { return (*static_cast<const Body*>(b))(s); }, &body);
}

}  // namespace ostrakan::cli
