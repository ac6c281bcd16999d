// provision FILE --ports P1,P2,... | --units TABLE.csv: restore and verify on
// every port at once, one worker thread per port, with a live table and a JSON
// report; verify over the same list runs here too, without the writes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/fleet.h"
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
    const UnitJob* job = nullptr;
    bool verifyOnly = false;
    UnitLogFile* log = nullptr;
    const std::string* profileSha256 = nullptr;
    bool logged = true;
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

    void work() {
        const auto start = std::chrono::steady_clock::now();
        stepName.store("open");
        result.status = openSession(session, port, &sim, &result.why);
        if (result.status == kExitDone)
            result = verifyOnly ? verifyUnit(session, job->plan, *this) : restoreUnit(session, job->plan, true, *this);
        session.core.closePort();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (result.status == kExitDifferent) result.why = "the unit does not hold the profile";
        // The log line as soon as the unit is done: a run cut short keeps those before.
        UnitLogEntry entry;
        entry.port = port;
        entry.operation = verifyOnly ? "verify" : "provision";
        entry.status = statusWord(result.status, result.why);
        entry.exit = result.status;
        if (result.status != kExitDone) entry.error = result.why;
        entry.profileSha256 = *profileSha256;
        entry.written = result.written;
        entry.differences = result.differing;
        entry.values = job->values;
        logged = logUnit(*log, entry);
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
        const std::string name = job->label.empty() ? port : port + " " + job->label;
        if (!finished.load()) return {name, std::string(stepName.load()) + " ..."};
        return {name, std::string(state()) + (result.why.empty() ? "" : ": " + result.why)};
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

// The report: the run's status and exit first (for --json, where it is the one
// document on stdout), then each unit with its own values, never a password.
std::string reportText(const std::vector<std::unique_ptr<Unit>>& units, int exit, const std::string& summary) {
    using Layout = JsonWriter::Layout;
    JsonWriter json;
    json.beginObject(Layout::Lines).key("status").value(statusWord(exit)).key("exit").value(static_cast<long long>(exit));
    json.key("error");
    if (exit == kExitDone) json.null();
    else json.value(summary);
    json.key("units").beginArray(Layout::Lines);
    for (const auto& u : units) {
        const RestoreResult& r = u->result;
        json.beginObject().key("port").value(u->port);
        if (!u->job->label.empty()) json.key("label").value(u->job->label);
        json.key("ok").value(r.status == kExitDone);
        json.key("status").value(statusWord(r.status, r.why)).key("exit").value(static_cast<long long>(r.status));
        json.key("seconds").fixed(u->seconds, 2).key("error");
        if (r.status == kExitDone) json.null();
        else json.value(r.why);
        json.key("step").value(r.step).key("written").beginArray();
        for (const std::string& w : r.written) json.value(w);
        json.endArray().key("differences").beginArray();
        for (const Difference& d : r.differing)
            json.beginObject().key("path").value(d.path).key("profile").value(d.profile).key("unit").value(d.unit).endObject();
        json.endArray().key("values").beginObject();
        for (const auto& [path, value] : u->job->values) json.key(path).value(value);
        json.endObject().endObject();
    }
    json.endArray().endObject();
    return json.text() + "\n";
}

}  // namespace

int runUnits(const std::vector<UnitJob>& jobs, bool verifyOnly, const Parsed& p, const Context& context,
             UnitLogFile& log, const std::string& profileSha256) {
    // Every session is made, and loads "_data.ini", before the first worker starts.
    std::vector<std::unique_ptr<Unit>> units;
    for (const UnitJob& job : jobs) {
        units.push_back(std::make_unique<Unit>(*context.interrupted));
        units.back()->port = job.port;
        units.back()->job = &job;
        units.back()->verifyOnly = verifyOnly;
        units.back()->log = &log;
        units.back()->profileSha256 = &profileSha256;
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
    for (auto& u : units) u->worker = std::thread([unit = u.get()] { unit->work(); });
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
    bool logged = true;
    for (const auto& u : units) {
        logged = logged && u->logged;
        if (u->result.status == kExitDone) {
            ++done;
            continue;
        }
        printErr("%s: %s\n", u->port.c_str(), u->result.why.c_str());
        for (const Difference& d : u->result.differing) printErr("%s: %s\n", u->port.c_str(), describe(d).c_str());
    }
    char summary[128];
    std::snprintf(summary, sizeof summary, "%zu of %zu units hold the profile", done, units.size());
    printErr("ostrakan-cli: %s: %s (%.1f s)\n", verifyOnly ? "verify" : "provision", summary, seconds);
    int status = done == units.size() ? kExitDone : kExitNoAnswer;
    // verify: every unit answered, and some differ.
    if (verifyOnly && status != kExitDone) {
        bool allAnswered = true;
        for (const auto& u : units) allAnswered = allAnswered && (u->result.status == kExitDone || u->result.status == kExitDifferent);
        if (allAnswered) status = kExitDifferent;
    }
    if (!logged && status == kExitDone) status = kExitNoAnswer;
    if (context.stopped()) {
        printErr("ostrakan-cli: interrupted\n");
        status = context.interruptedStatus();
    }
    const std::string report =
        reportText(units, status, status >= 128 ? "interrupted" : !logged ? "the unit log was not written" : summary);
    if (!p.reportFile.empty() && !writeFile(p.reportFile, report))
        printErr("ostrakan-cli: cannot write %s\n", p.reportFile.c_str());
    if (context.json) printJsonText(report);
    return status;
}

int loadUnitJobs(const Parsed& p, const char* command, std::vector<UnitJob>* jobs, std::string* why) {
    Plan plan;
    if (const int status = loadPlan(p.profileFile, p.passwordFile, &plan, why)) return status;
    if (!p.unitsFile.empty()) return unitJobsFromTable(p.unitsFile, p.labelColumn, plan, jobs, why);
    for (const std::string& port : splitPorts(p.ports)) jobs->push_back({port, {}, plan, {}});
    if (jobs->empty()) {
        *why = std::string(command) + ": give the units with --ports P1,P2,... or --units TABLE.csv";
        return kExitUsage;
    }
    return kExitDone;
}

int provisionCommand(const Parsed& p, const Context& context) {
    std::vector<UnitJob> jobs;
    std::string why;
    if (const int status = loadUnitJobs(p, "provision", &jobs, &why)) return why.empty() ? status : refuse(why);
    UnitLogFile log;
    if (const int status = openUnitLog(p, &log, &why)) return refuse(why);
    // "_data.ini" holds the modem password: what this program creates is for its
    // owner only (a file replaced keeps its mode).
    restrictNewFiles();
    return runUnits(jobs, false, p, context, log, fileSha256(p.profileFile));
}

}  // namespace ostrakan::cli
