// The commands, one file each. Each checks what it was given before it opens a
// port, and returns the tool's exit status.
#pragma once

#include "tools/cli/context.h"
#include "tools/cli/options.h"

namespace ostrakan::cli {

int readCommand(const Parsed& p, const Context& context);
int writeCommand(const Parsed& p, const Context& context);
int modemReadCommand(const Parsed& p, const Context& context);
int modemWriteCommand(const Parsed& p, const Context& context);
int portsCommand(const Parsed& p, const Context& context);
int dumpCommand(const Parsed& p, const Context& context);
int restoreCommand(const Parsed& p, const Context& context);
int provisionCommand(const Parsed& p, const Context& context);

}  // namespace ostrakan::cli
