#include "tools/cli/fleet.h"

#include <atomic>

#include "serial/port_name.h"
#include "tools/cli/cli.h"
#include "tools/cli/files.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"
#include "tools/json/json_writer.h"
#include "tools/profile/sha256.h"
#include "tools/profile/unit_table.h"

namespace ostrakan::cli {

namespace {

// A table or a profile is a few kilobytes; anything far larger is neither.
constexpr std::size_t kMaxTableBytes = 1 << 20;
constexpr std::size_t kMaxProfileBytes = 1 << 20;

// A name the tool can open: "sim", a device path, or a COM name the window's
// own check takes.
bool portNameIsUsable(const std::string& port, std::string* why) {
    if (port == "sim" || opensAsDevice(portName(port))) return true;
    if (checkPortName(reinterpret_cast<const std::uint8_t*>(port.data()), port.size())) return true;
    *why = "not a port (COM1..COM256, a device path or sim)";
    return false;
}

bool toCp1251Profile(const std::string& u, std::string* b) { return utf8ToCp1251(u, b); }

}  // namespace

int unitJobsFromTable(const std::string& tablePath, const std::string& labelColumn, const Plan& base,
                      bool forWrite, std::vector<UnitJob>* jobs, std::string* why) {
    std::string text;
    if (!readInputFile(tablePath, kMaxTableBytes, &text, why)) return kExitUsage;
    UnitTable table;
    std::string error;
    if (!parseUnitTable(text, &table, &error, portNameIsUsable)) {
        *why = tablePath + ": " + error;
        return kExitUsage;
    }
    const int label = labelColumn.empty() ? 0 : table.column(labelColumn);
    if (label < 0) {
        *why = "--label-column: " + tablePath + " has no column \"" + labelColumn + "\"";
        return kExitUsage;
    }
    // The rules are checked on the UTF-8 profile the plan came from: its texts
    // back in UTF-8, the table's cells over them.
    Profile utf8 = base.profile;
    for (std::optional<std::string>* t : {&utf8.period, &utf8.address, &utf8.phone1, &utf8.phone2, &utf8.sms,
                                          &utf8.ip, &utf8.apn, &utf8.user, &utf8.password})
        if (*t) **t = cp1251ToUtf8(**t);
    if (base.password) utf8.password = cp1251ToUtf8(*base.password);
    if (!validateUnitTable(utf8, table, toCp1251Profile, &error)) {
        *why = tablePath + ": " + error;
        return kExitUsage;
    }
    for (const UnitRow& row : table.rows) {
        UnitJob job;
        job.port = table.port(row);
        job.label = label > 0 ? row.cells[static_cast<std::size_t>(label)] : std::string();
        job.plan = base;
        UnitRow device = row;  // the row's cells in 1251, as the plan holds texts (checked above)
        for (std::size_t c = 1; c < row.cells.size(); ++c) utf8ToCp1251(row.cells[c], &device.cells[c]);
        job.plan.profile = unitProfile(base.profile, table, device);
        // A password from --password-file goes over the profile's, but a unit's own wins.
        const int pw = table.column("modem.password");
        if (pw > 0 && !row.cells[static_cast<std::size_t>(pw)].empty()) job.plan.password.reset();
        job.values = unitValues(table, row);
        if (forWrite && checkPlanSources(job.plan, &error) != kExitDone) {
            *why = tablePath + " line " + std::to_string(row.line) + " (" + job.port + "): " + error;
            return kExitUsage;
        }
        jobs->push_back(std::move(job));
    }
    return kExitDone;
}

const char* statusWord(int exit, bool lost) {
    switch (exit) {
    case kExitDone: return "ok";
    case kExitNoAnswer: return "no-answer";
    case kExitUsage: return "refused";
    case kExitPort: return lost ? "lost" : "port-trouble";
    case kExitDifferent: return "different";
    case kExitOutput: return "output-failed";
    default: return exit >= 128 ? "interrupted" : "no-answer";
    }
}

const char* statusWordFor(int exit, const std::string& why) {
    // afterProcedure's words for a device gone from under the open port.
    return statusWord(exit, why.find(" is lost") != std::string::npos);
}

std::string fileSha256(const std::string& path) {
    std::string text, why;
    if (!readInputFile(path, kMaxProfileBytes, &text, &why)) return {};
    return sha256Hex(text);
}

int openUnitLog(const Parsed& p, UnitLogFile* log, std::string* why) {
    if (p.logFile.empty()) return kExitDone;
    if (!log->open(p.logFile, why)) {
        *why = "cannot open the log " + p.logFile + ": " + *why;
        return kExitUsage;
    }
    return kExitDone;
}

bool logUnit(UnitLogFile& log, const UnitLogEntry& entry) {
    if (!log.isOpen()) return true;
    std::string why;
    if (log.append(unitLogLine(entry, std::chrono::system_clock::now()), &why)) return true;
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) printErr("ostrakan-cli: the unit log was not written: %s\n", why.c_str());
    return false;
}

std::string unitDocument(int status, const std::string& error, const std::string& port,
                         const std::vector<std::string>* written, const std::vector<Difference>& differences) {
    JsonWriter json;
    json.beginObject().key("status").value(statusWordFor(status, error)).key("exit").value(static_cast<long long>(status));
    if (status != kExitDone) json.key("error").value(error.empty() ? "the unit does not hold the profile" : error);
    json.key("port").value(port);
    if (written) {
        json.key("written").beginArray();
        for (const std::string& w : *written) json.value(w);
        json.endArray();
    }
    json.key("differences").beginArray();
    for (const Difference& d : differences)
        json.beginObject().key("path").value(d.path).key("profile").value(d.profile).key("unit").value(d.unit).endObject();
    return json.endArray().endObject().text() + "\n";
}

int runLogged(const Parsed& p, const Context& context, const char* operation,
              const std::function<int(Session&, UnitLogEntry&)>& body) {
    UnitLogFile log;
    std::string why;
    if (openUnitLog(p, &log, &why)) return refuse(why);
    UnitLogEntry entry;
    entry.operation = operation;
    noteFailure("");
    int status = runOnPort(p, context, [&](Session& s) { return body(s, entry); });
    if (!log.isOpen()) return status;
    entry.port = p.port;
    entry.exit = status;
    if (status != kExitDone)
        entry.error = status == kExitDifferent && lastFailure().empty() ? "the unit does not hold the profile" : lastFailure();
    entry.status = statusWordFor(status, entry.error);
    if (!logUnit(log, entry) && status == kExitDone) {
        noteFailure("the unit log was not written");
        status = kExitOutput;
    }
    return status;
}

}  // namespace ostrakan::cli
