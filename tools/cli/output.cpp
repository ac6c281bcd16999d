#include "tools/cli/output.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "tools/cli/cli.h"
#include "tools/cli/files.h"
#include "tools/cli/fleet.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

// Written on the main thread only (commands, not the provisioning workers).
bool gJsonPrinted = false;
std::string gLastFailure;

}  // namespace

bool jsonPrinted() { return gJsonPrinted; }

void printJsonText(const std::string& document) {
    printOut("%s", document.c_str());
    gJsonPrinted = true;
}

const std::string& lastFailure() { return gLastFailure; }
void noteFailure(const std::string& why) { gLastFailure = why; }

std::string failureDocument(int status, const std::string& why) {
    JsonWriter json;
    json.beginObject().key("status").value(statusWord(status, why)).key("exit").value(static_cast<long long>(status));
    json.key("error").value(why.empty() ? "failed" : why);
    return json.endObject().text() + "\n";
}

int refuse(const std::string& what) {
    noteFailure(what);
    printErr("ostrakan-cli: %s\n", what.c_str());
    return kExitUsage;
}

int report(int status, const std::string& why, bool bare) {
    noteFailure(status >= 128 ? "interrupted" : why);
    if (status >= 128) printErr("ostrakan-cli: interrupted\n");
    else if (bare && status == kExitNoAnswer) printErr("%s\n", why.c_str());
    else printErr("ostrakan-cli: %s\n", why.c_str());
    return status;
}

void printLine(const std::string& bytes) { printOut("%s\n", fromCp1251(bytes).c_str()); }

void printJson(const JsonWriter& json) { printJsonText(json.text() + "\n"); }

void StderrProgress::step(const char* what) {
    if (terminal_) printErr("\r\033[Kostrakan-cli: %s: %s", command_, what);
    else printErr("ostrakan-cli: %s: %s\n", command_, what);
    shown_ = true;
}

void StderrProgress::done() {
    if (terminal_ && shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
}

void Table::draw(const std::vector<Row>& rows) {
    std::size_t width = 0;
    for (const Row& r : rows) width = std::max(width, r.port.size());
    std::vector<std::string> lines;
    for (const Row& r : rows) lines.push_back(r.port + std::string(width - r.port.size() + 2, ' ') + r.text);
    if (lines == last_) return;
    if (terminal_ && drawn_) printErr("\033[%zuA", rows.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (terminal_) printErr("\r\033[K%s\n", lines[i].c_str());
        else if (lines[i] != last_[i]) printErr("%s\n", lines[i].c_str());
    }
    last_ = lines;
    drawn_ = true;
}

bool standardOutputWritten() {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return true;
    static bool said = false;
    if (!said)
        printErr("ostrakan-cli: cannot write to standard output: %s\n",
                 flushed ? "some of it was lost" : std::strerror(error));
    said = true;
    return false;
}

bool writeOutputFile(const std::string& path, const std::string& text) {
    std::string why;
    if (replaceOutputFile(path, text, &why)) return true;
    printErr("ostrakan-cli: %s\n", why.c_str());
    return false;
}

}  // namespace ostrakan::cli
