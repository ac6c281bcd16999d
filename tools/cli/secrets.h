// Where the modem password comes from when it is not typed on the command line:
// a file (--password-file) or the terminal / standard input (--password -).
#pragma once

#include <cstddef>
#include <string>

#include "tools/cli/context.h"

namespace ostrakan::cli {

// A password file or line longer than this is no password (the modem takes 75
// bytes); reading stops here, so a wrong file cannot take memory.
constexpr std::size_t kMaxPasswordSourceBytes = 4096;

// The password in FILE, as typed (the locale's encoding): the first line without
// its line end, after a UTF-8 byte-order mark. FILE must be a regular file of at
// most kMaxPasswordSourceBytes with a first line that is not empty. kExitDone,
// or kExitUsage with *why naming the file and what is wrong with it.
int passwordFromFile(const std::string& path, std::string* typed, std::string* why);

// "--password -": asks without echo, or reads a line of standard input. An empty
// line, no line before the end of the input, or a line over
// kMaxPasswordSourceBytes is kExitUsage with *why. Ctrl-C or SIGTERM ends the
// wait: the interrupted status with *why "".
int passwordFromInput(const Context& context, std::string* typed, std::string* why);

}  // namespace ostrakan::cli
