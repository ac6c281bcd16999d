#include "tools/cli/secrets.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/cli/cli.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

namespace {

const std::string kLimitText = std::to_string(kMaxPasswordSourceBytes / 1024) + " KiB";

// What an empty password needs, said wherever one is refused.
const char kEmptyHint[] = "an empty password is sent only when given as --password \"\"";

}  // namespace

int passwordFromFile(const std::string& path, std::string* typed, std::string* why) {
    // Looked at before it is opened: reading a folder gives nothing and a device
    // (/dev/zero) never ends.
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (status.type() == fs::file_type::not_found) {
        *why = "password file " + path + ": no such file";
        return kExitUsage;
    }
    if (code) {
        *why = "password file " + path + ": " + code.message();
        return kExitUsage;
    }
    if (fs::is_directory(status)) {
        *why = "password file " + path + " is a folder";
        return kExitUsage;
    }
    if (!fs::is_regular_file(status)) {
        *why = "password file " + path + " is a device or a pipe, not a file";
        return kExitUsage;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read the password file " + path;
        return kExitUsage;
    }
    // One byte past the limit tells a file that grew meanwhile too.
    std::string text(kMaxPasswordSourceBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        *why = "cannot read the password file " + path;
        return kExitUsage;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxPasswordSourceBytes) {
        *why = "password file " + path + " is larger than " + kLimitText + "; its first line is the password";
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
    const bool read = readPassword(typed, *context.interrupted);
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
