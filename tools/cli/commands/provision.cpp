// provision FILE --ports P1,P2,...: restore and verify on every port at once,
// one worker thread per port, with a live table and a JSON report.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "serial/trace.h"
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/port_identity.h"
#include "tools/cli/unit_restore.h"
#include "version.h"

namespace ostrakan::cli {

namespace {

// One port's unit. The worker thread owns the session from its start to its end;
// the main thread reads `step` and `finished` while it runs (to draw the table)
// and the results only after joining it.
struct Unit : Progress {
    explicit Unit(const std::atomic<int>& interrupted) : session(interrupted) {}
    std::string port;      // as named in --ports
    std::string openName;  // as opened (on Windows "com3" is COM3)
    Session session;
    std::unique_ptr<BuiltInSimulator> sim;
    std::thread worker;
    std::atomic<const char*> stepName{"waiting"};  // worker writes, main thread reads
    std::atomic<bool> finished{false};             // set by the worker last
    // Written by the worker before `finished`; read once `finished` is seen.
    RestoreResult result;
    double seconds = 0;

    // Wakes the main thread when this unit finishes, so that the last unit's end
    // ends the command at once rather than at the table's next redraw.
    std::mutex* doneMutex = nullptr;
    std::condition_variable* doneSignal = nullptr;

    void step(const char* what) override { stepName.store(what); }

    void work(const Plan& plan) {
        const auto start = std::chrono::steady_clock::now();
        step("open");
        result.step = "open";
        result.unwritten = plannedPaths(plan);
        result.status = openSession(session, openName, &sim, &result.why);
        if (result.status == kExitDone) result = restoreUnit(session, plan, true, *this);
        session.core.closePort();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result.status == kExitDifferent) result.why = "the unit does not hold the profile";
        stepName.store("");
        {
            const std::lock_guard<std::mutex> lock(*doneMutex);
            finished.store(true);
        }
        doneSignal->notify_all();
    }

    Table::Row row() const {
        if (!finished.load()) return {port, std::string(stepName.load()) + " ..."};
        // The row starts with the port: the reason need not name it again.
        std::string why = result.why;
        if (why.compare(0, port.size() + 2, port + ": ") == 0) why.erase(0, port.size() + 2);
        return {port, std::string(unitStatus(result)) + (why.empty() ? "" : ": " + why)};
    }
};

std::vector<std::string> splitPorts(const std::string& list) {
    std::vector<std::string> ports;
    std::string item;
    std::istringstream in(list);
    while (std::getline(in, item, ',')) {
        // "COM3, COM4": the spaces are the list's, not the names'.
        const std::size_t first = item.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        ports.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
    }
    return ports;
}

// Every name checked and resolved before any unit is touched: a bad name, or
// one device named twice (its second worker would find the port in use by the
// first), refuses the whole run. *open gets the names to open.
int checkPorts(const std::vector<std::string>& ports, std::vector<std::string>* open) {
    std::vector<std::string> identities, problems;
    for (const std::string& port : ports) {
        std::string name = port, identity, why;
        if (port != "sim" && !portIdentity(port, &name, &identity, &why)) {
            problems.push_back(port + ": " + why);
        } else if (port != "sim") {  // each "sim" is a simulator of its own
            const auto same = std::find(identities.begin(), identities.end(), identity);
            if (same != identities.end())
                problems.push_back(port + ": the same device as " + ports[static_cast<std::size_t>(
                                                                         same - identities.begin())] +
                                   " (" + identity + ")");
        }
        identities.push_back(port == "sim" ? std::string() : identity);
        open->push_back(name);
    }
    if (problems.empty()) return kExitDone;
    std::string text = "provision: --ports: ";
    for (std::size_t i = 0; i < problems.size(); ++i) text += (i ? "; " : "") + problems[i];
    return refuse(text + "; nothing was sent");
}

bool writeReport(const std::string& path, const std::vector<std::unique_ptr<Unit>>& units) {
    using Layout = JsonWriter::Layout;
    JsonWriter json;
    json.beginObject(Layout::Lines).key("units").beginArray(Layout::Lines);
    for (const auto& u : units) {
        const RestoreResult& r = u->result;
        json.beginObject().key("port").value(u->port).key("ok").value(r.status == kExitDone);
        json.key("status").value(unitStatus(r)).key("exit").value(static_cast<long long>(r.status));
        json.key("step").value(r.step);
        json.key("seconds").fixed(u->seconds, 2).key("error");
        if (r.status == kExitDone) json.null();
        else json.value(r.why);
        json.key("written").beginArray();
        for (const std::string& w : r.written) json.value(w);
        json.endArray().key("differences").beginArray();
        for (const std::string& d : r.differences) json.value(d);
        json.endArray().endObject();
    }
    json.endArray().endObject();
    return writeOutputFile(path, json.text() + "\n");
}

// "trace.log" for port "/dev/ttyUSB0": "trace-dev_ttyUSB0.log", one file per
// port, the port's name made safe for a file name.
std::string tracePath(const std::string& path, const std::string& port) {
    std::string tag;
    for (char c : port) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.';
        if (plain) tag += c;
        else if (!tag.empty() && tag.back() != '_') tag += '_';
    }
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return extension ? path.substr(0, dot) + "-" + tag + path.substr(dot) : path + "-" + tag;
}

int provision(const Plan& plan, const std::vector<std::string>& ports, const std::vector<std::string>& open,
              const Parsed& p, const Context& context) {
    // Every session is made, and loads "_data.ini", before the first worker starts.
    std::vector<std::unique_ptr<Unit>> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        units.push_back(std::make_unique<Unit>(*context.interrupted));
        units.back()->port = ports[i];
        units.back()->openName = open[i];
        units.back()->session.core.startUp();
        if (p.trace) units.back()->session.line.setTrace(kStandardError);
    }
    if (!p.traceFile.empty()) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < units.size(); ++i) {
            std::string path = tracePath(p.traceFile, ports[i]);
            // Two names that make one file name ("a/b", "a_b") still get a file each.
            if (std::find(paths.begin(), paths.end(), path) != paths.end())
                path = tracePath(p.traceFile, ports[i] + "-" + std::to_string(i + 1));
            paths.push_back(path);
            std::string why;
            const int fd = openTraceFile(path, &why);
            if (fd < 0) return refuse("cannot open " + path + ": " + why + "; nothing was sent");
            beginSessionTrace(fd, "ostrakan-cli " OSTRAKAN_VERSION);
            units[i]->session.line.setTrace(fd);  // closed by the system at exit, after the port
        }
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    for (auto& u : units) {
        u->doneMutex = &doneMutex;
        u->doneSignal = &doneSignal;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto& u : units) u->worker = std::thread([&plan, unit = u.get()] { unit->work(plan); });
    Table table(units.size(), context.terminal);
    const auto draw = [&] {
        std::vector<Table::Row> rows;
        for (const auto& u : units) rows.push_back(u->row());
        table.draw(rows);
    };
    const auto allFinished = [&units] {
        for (const auto& u : units)
            if (!u->finished.load()) return false;
        return true;
    };
    // Redraws the table every 100 ms, and at once when the last unit ends.
    draw();
    for (bool all = false; !all;) {
        std::unique_lock<std::mutex> lock(doneMutex);
        all = doneSignal.wait_for(lock, std::chrono::milliseconds(100), allFinished);
        lock.unlock();
        draw();
    }
    for (auto& u : units) u->worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::size_t done = 0;
    for (const auto& u : units) {
        if (u->result.status == kExitDone) {
            ++done;
            continue;
        }
        // The port once: most messages name it already.
        if (u->result.why.find(u->port) == std::string::npos) printErr("%s: ", u->port.c_str());
        printErr("%s\n", u->result.why.c_str());
        for (const std::string& d : u->result.differences) printErr("%s: %s\n", u->port.c_str(), d.c_str());
    }
    printErr("ostrakan-cli: provision: %zu of %zu units hold the profile (%.1f s)\n", done, units.size(), seconds);
    const bool modemWritten = std::any_of(units.begin(), units.end(), [](const auto& u) {
        return std::find(u->result.written.begin(), u->result.written.end(), "modem") != u->result.written.end();
    });
    if (sendsPassword(plan) && modemWritten)
        printErr("ostrakan-cli: provision: the modem password was sent but cannot be read back, so it is not verified\n");
    const bool reported = p.reportFile.empty() || writeReport(p.reportFile, units);
    if (context.stopped()) {
        printErr("ostrakan-cli: interrupted\n");
        return context.interruptedStatus();
    }
    // A report asked for and not written is the run's failure: the units' results
    // are on stderr, but a script reading the report would find none or an old one.
    if (!reported) return kExitOutput;
    return done == units.size() ? kExitDone : kExitNoAnswer;
}

}  // namespace

int provisionCommand(const Parsed& p, const Context& context) {
    Plan plan;
    std::string why;
    if (const int status = loadPlan(p.profileFile, p.passwordFile, &plan, &why))
        return why.empty() ? status : refuse(why);
    // "_data.ini" holds the modem password: what this program creates is for its
    // owner only (a file replaced keeps its mode).
    restrictNewFiles();
    const std::vector<std::string> ports = splitPorts(p.ports);
    if (ports.empty()) return refuse("provision: --ports names no port");
    std::vector<std::string> open;
    if (const int status = checkPorts(ports, &open)) return status;
    return provision(plan, ports, open, p, context);
}

}  // namespace ostrakan::cli
