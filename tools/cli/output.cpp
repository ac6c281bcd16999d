#include "tools/cli/output.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include "tools/cli/cli.h"
#include "tools/cli/files.h"
#include "tools/cli/platform.h"
#include "tools/cli/terminal.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

int refuse(const std::string& what) {
    printErr("ostrakan-cli: %s\n", what.c_str());
    return kExitUsage;
}

int report(int status, const std::string& why, bool bare) {
    if (status >= 128) printErr("ostrakan-cli: interrupted\n");
    else if (bare && status == kExitNoAnswer) printErr("%s\n", why.c_str());
    else printErr("ostrakan-cli: %s\n", why.c_str());
    return status;
}

namespace {

// The first `columns` characters of a UTF-8 line.
std::string cutToColumns(const std::string& utf8, std::size_t columns);

}  // namespace

void printLine(const std::string& bytes) { printOut("%s\n", fromCp1251(bytes).c_str()); }

void printJson(const JsonWriter& json) { printOut("%s\n", json.text().c_str()); }

void StderrProgress::step(const char* what) {
    int columns = 0, rows = 0;
    const std::string line = std::string("ostrakan-cli: ") + command_ + ": " + what;
    // Rewritten in place with \r, so it must not wrap.
    if (terminal_ && terminalSize(&columns, &rows))
        printErr("\r\033[K%s", cutToColumns(line, static_cast<std::size_t>(std::max(columns - 1, 1))).c_str());
    else if (terminal_) printErr("\r\033[K%s", line.c_str());
    else printErr("ostrakan-cli: %s: %s\n", command_, what);
    shown_ = true;
}

void StderrProgress::done() {
    if (terminal_ && shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
}

namespace {

std::string cutToColumns(const std::string& utf8, std::size_t columns) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // a continuation byte
        if (characters++ == columns) return utf8.substr(0, i);
    }
    return utf8;
}

}  // namespace

void Table::draw(const std::vector<Row>& rows) {
    std::size_t width = 0;
    for (const Row& r : rows) width = std::max(width, r.port.size());
    std::vector<std::string> lines;
    for (const Row& r : rows) lines.push_back(r.port + std::string(width - r.port.size() + 2, ' ') + r.text);
    if (!terminal_) {
        // A log: a port's line when it changes, whole.
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] != last_[i]) printErr("%s\n", lines[i].c_str());
        last_ = lines;
        return;
    }
    // Redrawn in place, so it must fit: a line that wraps takes two rows and the
    // cursor, moved up by the lines drawn, no longer reaches the table's top.
    int columns = 0, height = 0;
    if (terminalSize(&columns, &height)) {
        const std::size_t room = height > 2 ? static_cast<std::size_t>(height - 1) : 1;
        if (lines.size() > room) {
            const std::size_t hidden = lines.size() - (room - 1);
            lines.resize(room - 1);
            lines.push_back("... and " + std::to_string(hidden) + " more units");
        }
        // The last column left free: some terminals wrap at once on writing it.
        for (std::string& line : lines) line = cutToColumns(line, static_cast<std::size_t>(std::max(columns - 1, 1)));
    }
    if (lines == last_) return;
    if (drawn_ > 0) printErr("\033[%zuA", drawn_);
    for (const std::string& line : lines) printErr("\r\033[K%s\n", line.c_str());
    // A table grown shorter (the terminal got smaller) leaves no stale lines below.
    if (lines.size() < drawn_) printErr("\033[J");
    last_ = lines;
    drawn_ = lines.size();
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
