#include "tools/cli/secrets.h"

#include <fstream>

#include "tools/cli/cli.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

int passwordFromFile(const std::string& path, std::string* typed, std::string* why) {
    // The first line of the file, without its line end.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path;
        return kExitUsage;
    }
    std::getline(in, *typed);
    if (!typed->empty() && typed->back() == '\r') typed->pop_back();
    return kExitDone;
}

int passwordFromInput(const Context& context, std::string* typed, std::string* why) {
    typed->clear();
    if (readPassword(typed, *context.interrupted)) return kExitDone;
    if (context.stopped()) {
        why->clear();
        return context.interruptedStatus();
    }
    *why = "modem write: no password read";
    return kExitUsage;
}

}  // namespace ostrakan::cli
