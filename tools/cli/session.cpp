#include "tools/cli/session.h"

#include <cstring>

#include "timing/tick.h"
#include "resources/resource.h"
#include "serial/trace.h"
#include "tools/cli/cli.h"
#include "tools/cli/options.h"
#include "tools/cli/output.h"
#include "version.h"

namespace ostrakan::cli {

namespace {

bool requestDone(void* context) {
    Waiting& w = *static_cast<Waiting*>(context);
    if (w.procedure && !w.finished && w.procedure->step() == kFinish) {
        // The tick that moved the procedure to its finish ran with the counter one
        // below the current value: it ended by time-out if its deadline had passed.
        w.finished = true;
        w.timedOut = deadlinePassed(w.procedure->deadline(), w.core->tickCounter - 1);
    }
    // Nothing will answer a lost device: stop at once rather than at the deadline.
    if (w.loop && w.loop->losses() > 0) w.lost = true;
    // Every procedure ends by its deadlines; the guard only protects against a
    // loop that does not tick at all.
    return w.lost || !w.core->requests.isSet(w.request) || w.interrupted->load() != 0 || ++w.guard > 200000;
}

// "cannot open COM7 (/dev/ttyS6): no such device": the port once, its device
// beside it when that is another name, then the reason.
std::string cannotOpen(const Session& s, const std::string& port) {
    const std::string device = s.line.lastDevice();
    std::string reason = openFailure(s.line);
    if (reason.compare(0, device.size() + 2, device + ": ") == 0) reason.erase(0, device.size() + 2);
    const bool same = device.empty() || device == port || portName(device) == port;
    return "cannot open " + port + (same ? "" : " (" + device + ")") + ": " + reason;
}

// Opens a device path as it is, a COM name as the window's Open command does.
int openDevice(Session& s, const std::string& device, std::string* why) {
    if (opensAsDevice(device)) {
        if (s.line.open(device.c_str()) != kPortOpened) {
            *why = cannotOpen(s, device);
            return kExitPort;
        }
    } else {
        // A COM name goes through the window's open command, with its name check.
        s.window.typeInto(s.core.portNameField.control(), device.c_str());
        s.core.onCommand(IDM_OPEN_PORT, 0);
        const char* status = textOf(s, s.core.statusField);
        if (std::strcmp(status, "Name is wrong.") == 0) {
            *why = std::string(status) + " (a port is COM1..COM256, a device path or sim)";
            return kExitUsage;
        }
        // The window says "Port did't open!"; the tool says what went wrong.
        if (!s.line.isOpen()) {
            *why = cannotOpen(s, device);
            return kExitPort;
        }
    }
    return kExitDone;
}

}  // namespace

Waiting runProcedure(Session& s, int buttonId, Request request) {
    Waiting w{&s.core, request, nullptr};
    w.loop = &*s.loop;
    w.interrupted = &s.interrupted;
    for (const ControllerProcedure& p : s.core.controllerProcedures)
        if (p.info().request == request) w.procedure = &p;
    s.core.onCommand(buttonId, 0);
    s.loop->runUntil(requestDone, &w);
    return w;
}

const char* textOf(Session& s, const TextField& field) { return s.window.textOf(field.control()); }

int afterProcedure(Session& s, std::string* why) {
    if (s.interrupted.load() != 0) {
        *why = "interrupted";
        return 128 + s.interrupted.load();
    }
    if (s.line.lost() || !s.line.isOpen()) {
        const char* device = s.line.lastDevice();
        *why = s.core.openedPortName[0] != 0
                   ? std::string(s.core.openedPortName) + " (" + device + ")"
                   : std::string(device);
        *why += " is lost: check the cable or the USB adapter";
        return kExitPort;
    }
    return kExitDone;
}

int afterWrite(Session& s, const char* what, std::string* why) {
    if (const int status = afterProcedure(s, why)) return status;
    if (s.line.lastHandOffWritten()) return kExitDone;
    *why = std::string(what) + " was not sent: the port did not take the bytes";
    return kExitNoAnswer;
}

int openSession(Session& s, const std::string& port, std::unique_ptr<BuiltInSimulator>* sim, std::string* why) {
    std::string device = portName(port);
    if (port == "sim") {
        *sim = makeBuiltInSimulator();
        int status = kExitPort;
        device = (*sim)->start(why, &status);
        if (device.empty()) return status;
    }
    s.loop.emplace(s.core, s.line);
    const int status = openDevice(s, device, why);
    if (status != kExitDone) s.loop.reset();
    return status;
}

int runOnPort(const Parsed& p, const Context& context, int (*body)(Session&, const void*), const void* data) {
    // "_data.ini" holds the modem password: what this program creates is for its
    // owner only (a file replaced keeps its mode).
    restrictNewFiles();
    const auto session = std::make_unique<Session>(*context.interrupted);  // fixed storage, made once
    Session& s = *session;
    s.core.startUp();
    if (p.trace) s.line.setTrace(kStandardError);
    if (!p.traceFile.empty()) {
        std::string why;
        const int fd = openTraceFile(p.traceFile, &why);
        if (fd < 0) return refuse("cannot open " + p.traceFile + ": " + why);
        beginSessionTrace(fd, "ostrakan-cli " OSTRAKAN_VERSION);
        s.line.setTrace(fd);  // closed by the system at exit, after the port
    }

    std::unique_ptr<BuiltInSimulator> sim;
    std::string why;
    if (const int status = openSession(s, p.port, &sim, &why))
        return status == kExitUsage ? refuse(why) : report(status, why);
    const int status = body(s, data);
    flushOut();
    s.core.closePort();
    return status;
}

}  // namespace ostrakan::cli
