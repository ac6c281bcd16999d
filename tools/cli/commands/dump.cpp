// dump [-o FILE]: the whole unit as a profile
#include <cstdio>

#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/unit_restore.h"

namespace ostrakan::cli {

int dumpCommand(const Parsed& p, const Context& context) {
    return runOnPort(p, context, [&](Session& s) {
        StderrProgress progress("dump", context);
        Profile profile;
        std::string why;
        const int status = readUnit(s, &profile, progress, &why);
        progress.done();
        if (status != kExitDone) return report(status, why);
        const std::string text = writeProfile(profile);
        if (p.outFile.empty() || p.outFile == "-") {
            printOut("%s", text.c_str());  // a console gets it as UTF-16
            return static_cast<int>(standardOutputWritten() ? kExitDone : kExitOutput);
        }
        return static_cast<int>(writeOutputFile(p.outFile, text) ? kExitDone : kExitOutput);
    });
}

}  // namespace ostrakan::cli
