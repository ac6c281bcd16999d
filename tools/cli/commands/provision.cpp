// provision FILE --ports P1,P2,...: restore and verify on every port at once,
// one worker thread per port, with a live table and a JSON report.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/unit_restore.h"

namespace ostrakan::cli {

namespace {

// One port's unit. The worker thread owns the session from its start to its end;
// the main thread reads `step` and `finished` while it runs (to draw the table)
// and the results only after joining it.
struct Unit : Progress {
    explicit Unit(const std::atomic<int>& interrupted) : session(interrupted) {}
    std::string port;
    Session session;
    std::unique_ptr<BuiltInSimulator> sim;
    std::thread worker;
    std::atomic<const char*> stepName{"waiting"};  // worker writes, main thread reads
    std::atomic<bool> finished{false};             // set by the worker last
    // Written by the worker before `finished`; read after the join.
    RestoreResult result;
    double seconds = 0;

    // Wakes the main thread when this unit finishes, so that the last unit's end
    // ends the command at once rather than at the table's next redraw.
    std::mutex* doneMutex = nullptr;
    std::condition_variable* doneSignal = nullptr;

    void step(const char* what) override { stepName.store(what); }

    void work(const Plan& plan) {
        const auto start = std::chrono::steady_clock::now();
        stepName.store("open");
        result.status = openSession(session, port, &sim, &result.why);
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

    const char* state() const {
        if (!finished.load()) return "running";
        switch (result.status) {
        case kExitDone: return "ok";
        case kExitDifferent: return "different";
        case kExitNoAnswer: return "failed";
        case kExitPort: return "port trouble";
        default: return result.status >= 128 ? "interrupted" : "failed";
        }
    }

    Table::Row row() const {
        if (!finished.load()) return {port, std::string(stepName.load()) + " ..."};
        return {port, std::string(state()) + (result.why.empty() ? "" : ": " + result.why)};
    }
};

std::vector<std::string> splitPorts(const std::string& list) {
    std::vector<std::string> ports;
    std::string item;
    std::istringstream in(list);
    while (std::getline(in, item, ','))
        if (!item.empty()) ports.push_back(item);
    return ports;
}

bool writeReport(const std::string& path, const std::vector<std::unique_ptr<Unit>>& units) {
    using Layout = JsonWriter::Layout;
    JsonWriter json;
    json.beginObject(Layout::Lines).key("units").beginArray(Layout::Lines);
    for (const auto& u : units) {
        const RestoreResult& r = u->result;
        json.beginObject().key("port").value(u->port).key("ok").value(r.status == kExitDone);
        json.key("seconds").fixed(u->seconds, 2).key("error");
        if (r.status == kExitDone) json.null();
        else json.value(r.why);
        json.key("differences").beginArray();
        for (const std::string& d : r.differences) json.value(d);
        json.endArray().endObject();
    }
    json.endArray().endObject();
    return writeFile(path, json.text() + "\n");
}

int provision(const Plan& plan, const std::vector<std::string>& ports, const Parsed& p, const Context& context) {
    // Every session is made, and loads "_data.ini", before the first worker starts.
    std::vector<std::unique_ptr<Unit>> units;
    for (const std::string& port : ports) {
        units.push_back(std::make_unique<Unit>(*context.interrupted));
        units.back()->port = port;
        units.back()->session.core.startUp();
        if (p.trace) units.back()->session.line.setTrace(kStandardError);
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
        printErr("%s: %s\n", u->port.c_str(), u->result.why.c_str());
        for (const std::string& d : u->result.differences) printErr("%s: %s\n", u->port.c_str(), d.c_str());
    }
    printErr("ostrakan-cli: provision: %zu of %zu units hold the profile (%.1f s)\n", done, units.size(), seconds);
    if (!p.reportFile.empty() && !writeReport(p.reportFile, units))
        printErr("ostrakan-cli: cannot write %s\n", p.reportFile.c_str());
    if (context.stopped()) {
        printErr("ostrakan-cli: interrupted\n");
        return context.interruptedStatus();
    }
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
    return provision(plan, ports, p, context);
}

}  // namespace ostrakan::cli
