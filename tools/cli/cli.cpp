#include "tools/cli/cli.h"

#include <atomic>

#include "tools/cli/commands/commands.h"
#include "tools/cli/context.h"
#include "tools/cli/options.h"
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
    context.terminal = stderrIsTerminal();

    switch (p.command) {
    case CommandName::Read: return readCommand(p, context);
    case CommandName::Write: return writeCommand(p, context);
    case CommandName::ModemRead: return modemReadCommand(p, context);
    case CommandName::ModemWrite: return modemWriteCommand(p, context);
    case CommandName::Ports: return portsCommand(p, context);
    case CommandName::Dump: return dumpCommand(p, context);
    case CommandName::Restore: return restoreCommand(p, context);
    case CommandName::Provision: return provisionCommand(p, context);
    }
    return kExitUsage;
}

}  // namespace ostrakan::cli
