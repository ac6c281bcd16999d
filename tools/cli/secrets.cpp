#include "tools/cli/secrets.h"

#include "tools/cli/cli.h"
#include "tools/cli/files.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

namespace {

const std::string kLimitText = std::to_string(kMaxPasswordSourceBytes / 1024) + " KiB";

// What an empty password needs, said wherever one is refused.
const char kEmptyHint[] = "an empty password is sent only when given as --password \"\"";

}  // namespace

int passwordFromFile(const std::string& path, std::string* typed, std::string* why) {
    // A regular file only, read up to the limit: a folder gives nothing and a
    // device (/dev/zero) never ends.
    std::string text;
    if (!readInputFile(path, kMaxPasswordSourceBytes, &text, why)) {
        *why = "password file: " + *why;
        return kExitUsage;
    }
    const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::size_t end = text.find('\n', start);
    typed->assign(text, start, end == std::string::npos ? std::string::npos : end - start);
    if (!typed->empty() && typed->back() == '\r') typed->pop_back();
    if (typed->empty()) {
        *why = "password file " + path + ": the first line is empty; " + kEmptyHint;
        return kExitUsage;
    }
    return kExitDone;
}

int passwordFromInput(const Context& context, std::string* typed, std::string* why) {
    typed->clear();
    const bool read = readPassword(typed, kMaxPasswordSourceBytes, *context.interrupted);
    if (context.stopped()) {
        typed->clear();
        why->clear();
        return context.interruptedStatus();
    }
    if (!read) {
        *why = "--password -: the password could not be read";
        return kExitUsage;
    }
    if (typed->size() > kMaxPasswordSourceBytes) {
        typed->clear();
        *why = "--password -: the line is longer than " + kLimitText;
        return kExitUsage;
    }
    if (typed->empty()) {
        *why = "--password -: no password read (an empty line or the end of the input); " +
               std::string(kEmptyHint);
        return kExitUsage;
    }
    return kExitDone;
}

}  // namespace ostrakan::cli
