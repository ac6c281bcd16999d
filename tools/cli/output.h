// What the tool prints and writes: messages, texts and JSON on stdout, the
// progress line and the live table on stderr, and output files.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/context.h"
#include "tools/cli/unit_restore.h"
#include "tools/json/json_writer.h"

namespace ostrakan::cli {

// "ostrakan-cli: <what>" on stderr; kExitUsage.
int refuse(const std::string& what);
// A failed operation's message on stderr (status >= 128: "interrupted"); with
// `bare`, a modem status text stands alone. Returns `status`.
int report(int status, const std::string& why, bool bare = false);

// A text from the device (1251 bytes) on stdout, in the terminal's encoding.
void printLine(const std::string& bytes);
void printJson(const JsonWriter& json);

// restore and dump on stderr: a line per step, or one line rewritten in place on
// a terminal.
class StderrProgress : public Progress {
public:
    StderrProgress(const char* command, const Context& context) : command_(command), terminal_(context.terminal) {}
    void step(const char* what) override;
    // Ends the updating line before the result is printed.
    void done();

private:
    const char* command_;
    bool terminal_;
    bool shown_ = false;
};

// The live table: one line per port. On a terminal it is redrawn in place (the
// cursor moved up over it); otherwise a port's line is printed when it changes.
class Table {
public:
    struct Row {
        std::string port;
        std::string text;  // its state, or its step while it runs
    };
    Table(std::size_t rows, bool terminal) : terminal_(terminal), last_(terminal ? 0 : rows) {}
    // Draws what changed since the last call (on a terminal: the whole table).
    void draw(const std::vector<Row>& rows);

private:
    bool terminal_;
    std::vector<std::string> last_;
    std::size_t drawn_ = 0;  // lines on the terminal now
};

// Flushes stdout; false (after saying so once) when anything written to it was
// lost: a full disk, a closed pipe.
bool standardOutputWritten();

// Puts `text` in the place of the file at `path` in one step, or says why not
// (naming the file and the stage) and returns false.
bool writeOutputFile(const std::string& path, const std::string& text);

}  // namespace ostrakan::cli
