// The size of the terminal on stderr, for a live table that must not wrap.
// tools/cli/unix/terminal.cpp and tools/cli/windows/terminal.cpp define it.
#pragma once

namespace ostrakan::cli {

// Columns and rows of the terminal stderr writes to; false when it is none or
// does not say.
bool terminalSize(int* columns, int* rows);

}  // namespace ostrakan::cli
