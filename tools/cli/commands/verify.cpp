// verify FILE [--ports P1,P2,... | --units TABLE.csv]: read what the profile
// names from the unit (or every unit at once) and compare; nothing is written.
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/fleet.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

int verifyCommand(const Parsed& p, const Context& context) {
    std::string why;
    if (!p.ports.empty() || !p.unitsFile.empty()) {
        std::vector<UnitJob> jobs;
        if (const int status = loadUnitJobs(p, "verify", false, &jobs, &why)) return why.empty() ? status : refuse(why);
        UnitLogFile log;
        if (const int status = openUnitLog(p, &log, &why)) return refuse(why);
        return runUnits(jobs, true, p, context, log, fileSha256(p.profileFile));
    }
    Plan plan;
    if (const int status = loadPlan(p.profileFile, p.passwordFile, &plan, &why, false))
        return why.empty() ? status : refuse(why);
    UnitLogFile log;
    if (const int status = openUnitLog(p, &log, &why)) return refuse(why);
    const std::string sha = fileSha256(p.profileFile);
    return runOnPort(p, context, [&](Session& s) {
        StderrProgress progress("verify", context);
        const RestoreResult r = verifyUnit(s, plan, progress);
        progress.done();
        int status = r.status;
        UnitLogEntry entry;
        entry.port = p.port;
        entry.operation = "verify";
        entry.status = unitStatus(r);
        entry.exit = status;
        entry.error = status == kExitDone || status == kExitDifferent ? std::string() : r.why;
        entry.profileSha256 = sha;
        entry.differences = r.differing;
        std::string error = entry.error;
        if (!logUnit(log, entry) && status == kExitDone) {
            status = kExitOutput;
            error = "the unit log was not written";
        }
        if (context.json) printJsonText(unitDocument(status, error, p.port, nullptr, r.differing));
        if (r.status == kExitDifferent) {
            for (const Difference& d : r.differing) printErr("%s\n", describe(d).c_str());
            printErr("ostrakan-cli: the unit does not hold the profile (%zu difference%s)\n", r.differing.size(),
                     r.differing.size() == 1 ? "" : "s");
            return status;
        }
        if (r.status != kExitDone) return report(r.status, r.why);
        const bool password = plan.profile.password || plan.password;
        printErr("ostrakan-cli: verify: the unit holds the profile%s\n",
                 password ? " (the modem password cannot be read back, so it was not compared)" : "");
        return status;
    });
}

}  // namespace ostrakan::cli
