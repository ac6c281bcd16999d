// restore FILE: write a profile to the unit, read it back, compare
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/unit_restore.h"

namespace ostrakan::cli {

int restoreCommand(const Parsed& p, const Context& context) {
    Plan plan;
    std::string why;
    if (const int status = loadPlan(p.profileFile, p.passwordFile, &plan, &why))
        return why.empty() ? status : refuse(why);
    const bool verify = !p.noVerify;
    return runOnPort(p, context, [&](Session& s) {
        StderrProgress progress("restore", context);
        const RestoreResult r = restoreUnit(s, plan, verify, progress);
        progress.done();
        if (r.status == kExitDifferent) {
            for (const std::string& d : r.differences) printErr("%s\n", d.c_str());
            printErr("ostrakan-cli: the unit does not hold the profile (%zu difference%s)\n", r.differences.size(),
                     r.differences.size() == 1 ? "" : "s");
            return r.status;
        }
        if (r.status != kExitDone) {
            report(r.status, r.why);
            // What the unit now holds is part old, part new: say which is which.
            const auto list = [](const std::vector<std::string>& paths) {
                std::string text;
                for (const std::string& path : paths) text += (text.empty() ? "" : ", ") + path;
                return text.empty() ? std::string("nothing") : text;
            };
            printErr("ostrakan-cli: restore: stopped at \"%s\"; written: %s; not written: %s\n", r.step.c_str(),
                     list(r.written).c_str(), list(r.unwritten).c_str());
            return r.status;
        }
        printErr("ostrakan-cli: restore: %s\n", verify ? "done, the unit holds the profile" : "done (not verified)");
        if (verify && sendsPassword(plan))
            printErr("ostrakan-cli: restore: the modem password was sent but cannot be read back, so it is not verified\n");
        return static_cast<int>(kExitDone);
    });
}

}  // namespace ostrakan::cli
