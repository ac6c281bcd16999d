#include "tools/cli/cli.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "tools/cli/commands/commands.h"
#include "tools/cli/context.h"
#include "tools/cli/options.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

// Set by the signal handler; the one piece of state the handler may touch.
std::atomic<int> gInterrupted{0};

int runCommand(const Parsed& p, const Context& context) {
    switch (p.command) {
    case CommandName::Read: return readCommand(p, context);
    case CommandName::Write: return writeCommand(p, context);
    case CommandName::ModemRead: return modemReadCommand(p, context);
    case CommandName::ModemWrite: return modemWriteCommand(p, context);
    case CommandName::Ports: return portsCommand(p, context);
    case CommandName::Dump: return dumpCommand(p, context);
    case CommandName::Restore: return restoreCommand(p, context);
    case CommandName::Verify: return verifyCommand(p, context);
    case CommandName::Provision: return provisionCommand(p, context);
    }
    return kExitUsage;
}

}  // namespace

int run(int argc, char** argv) {
    useTerminalEncoding();
    Parsed p;
    if (const int status = parseCommandLine(argc, argv, &p); status != kRunCommand) {
        // A refused command line still owes --json its one document.
        bool json = false;
        for (int i = 1; i < argc; ++i) json = json || std::strcmp(argv[i], "--json") == 0;
        if (json && status != kExitDone) printJsonText(failureDocument(status, lastFailure()));
        return status;
    }

    // Ctrl-C from here on ends the command through its own exit path.
    catchInterrupts(&gInterrupted);
    Context context;
    context.interrupted = &gInterrupted;
    context.json = p.json;
    // Cursor moves only where they work: a terminal that is not "dumb".
    const char* term = std::getenv("TERM");
    context.terminal = stderrIsTerminal() && !(term && std::strcmp(term, "dumb") == 0);

    int status = runCommand(p, context);
    if (context.json && !jsonPrinted()) {
        // Every command's --json is one document: a failure's status, exit and
        // message, or, for a command that prints nothing on success, its status.
        const bool quietOnSuccess = p.command == CommandName::Write ||
                                    (p.command == CommandName::Dump && !p.outFile.empty() && p.outFile != "-");
        if (status != kExitDone) printJsonText(failureDocument(status, lastFailure()));
        else if (quietOnSuccess) printJsonText("{\"status\": \"ok\", \"exit\": 0}\n");
    }
    // What was printed must have arrived (a full disk, a closed pipe): a command
    // that did its work but lost its output has not done what was asked.
    if (!standardOutputWritten() && status == kExitDone) status = kExitOutput;
    return status;
}

}  // namespace ostrakan::cli
