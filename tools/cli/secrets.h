// Where the modem password comes from when it is not typed on the command line:
// a file (--password-file) or the terminal / standard input (--password -).
#pragma once

#include <string>

#include "tools/cli/context.h"

namespace ostrakan::cli {

// The password in FILE, as typed (the locale's encoding). kExitDone, or the exit
// status with *why saying what is wrong with the file.
int passwordFromFile(const std::string& path, std::string* typed, std::string* why);

// "--password -": asks without echo, or reads a line of standard input. kExitDone,
// or the exit status with *why ("" when Ctrl-C ended the wait).
int passwordFromInput(const Context& context, std::string* typed, std::string* why);

}  // namespace ostrakan::cli
