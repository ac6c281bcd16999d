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

}  // namespace

int run(int argc, char** argv) {
    useTerminalEncoding();
    Parsed p;
    if (const int status = parseCommandLine(argc, argv, &p); status != kRunCommand) return status;

    // Ctrl-C from here on ends the command through its own exit path.
    catchInterrupts(&gInterrupted);
    Context context;
    context.interrupted = &gInterrupted;
    context.json = p.json;
    // Cursor moves only where they work: a terminal that is not "dumb".
    const char* term = std::getenv("TERM");
    context.terminal = stderrIsTerminal() && !(term && std::strcmp(term, "dumb") == 0);

    int status = kExitUsage;
    switch (p.command) {
    case CommandName::Read: status = readCommand(p, context); break;
    case CommandName::Write: status = writeCommand(p, context); break;
    case CommandName::ModemRead: status = modemReadCommand(p, context); break;
    case CommandName::ModemWrite: status = modemWriteCommand(p, context); break;
    case CommandName::Ports: status = portsCommand(p, context); break;
    case CommandName::Dump: status = dumpCommand(p, context); break;
    case CommandName::Restore: status = restoreCommand(p, context); break;
    case CommandName::Provision: status = provisionCommand(p, context); break;
    }
    // What was printed must have arrived (a full disk, a closed pipe): a command
    // that did its work but lost its output has not done what was asked.
    if (!standardOutputWritten() && status == kExitDone) status = kExitOutput;
    return status;
}

}  // namespace ostrakan::cli
