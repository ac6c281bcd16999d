// What fleet work shares between provision and verify: the units table turned
// into one plan per unit, the words for how a unit ended, and the unit log.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/cli/context.h"
#include "tools/cli/options.h"
#include "tools/cli/unit_log.h"
#include "tools/cli/unit_restore.h"

namespace ostrakan::cli {

// One unit of a run: its port, its label in the live table, its own plan.
struct UnitJob {
    std::string port;
    std::string label;
    Plan plan;
    std::vector<std::pair<std::string, std::string>> values;  // its own items (UTF-8), never the password
};

// A units table read and checked against the base plan, every row, before any
// port is touched: kExitDone, or kExitUsage with *why naming line, column and value.
// With forWrite, each unit's own plan must give every modem entry it sends a
// source (a cell, the profile, the password file or "_data.ini").
int unitJobsFromTable(const std::string& tablePath, const std::string& labelColumn, const Plan& base,
                      bool forWrite, std::vector<UnitJob>* jobs, std::string* why);

// The units of provision or verify: --units TABLE.csv, or --ports with the
// profile for all. The profile and every row are checked here; forWrite as for
// loadPlan (verify sends nothing, so needs no source for an entry).
int loadUnitJobs(const Parsed& p, const char* command, bool forWrite, std::vector<UnitJob>* jobs, std::string* why);

// Runs every unit at once (restore and verify, or verify alone), one worker per
// port, with the live table, the report (stdout too with --json) and the log.
int runUnits(const std::vector<UnitJob>& jobs, bool verifyOnly, const Parsed& p, const Context& context,
             UnitLogFile& log, const std::string& profileSha256);

// How a command or a unit ended, for reports, logs and JSON: "ok", "different",
// "no-answer", "refused", "port-trouble", "lost" (the device went away under
// the open port), "interrupted", "output-failed".
const char* statusWord(int exit, bool lost = false);
// The same where only the message says whether the device was lost.
const char* statusWordFor(int exit, const std::string& why);

// The SHA-256 of a file's bytes (the profile as given), or "" when unreadable.
std::string fileSha256(const std::string& path);

// --log FILE or $OSTRAKAN_LOG: the log, opened before any unit is touched.
// kExitDone (also when no log was asked for), or kExitUsage with *why.
int openUnitLog(const Parsed& p, UnitLogFile* log, std::string* why);

// Appends the entry; a failure is said once on stderr, and a command that did
// its work but lost its record ends with kExitOutput.
bool logUnit(UnitLogFile& log, const UnitLogEntry& entry);

// restore's and verify's --json document: status, exit, error (unless ok), the
// port, the items written (restore) and the differences.
std::string unitDocument(int status, const std::string& error, const std::string& port,
                         const std::vector<std::string>* written, const std::vector<Difference>& differences);

// A single-port command that changes or verifies the unit, logged: opens the
// log (before the port), runs body(session, entry) on the port, and appends the
// entry with how the command ended. The body fills in what it wrote and found.
int runLogged(const Parsed& p, const Context& context, const char* operation,
              const std::function<int(Session&, UnitLogEntry&)>& body);

}  // namespace ostrakan::cli
