// Running ostrakan-cli and ostrakan-sim as child processes, for the end-to-end
// suites: one way to start a program, wait for it with a time limit, and read
// what it printed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ostrakan::e2e {

struct Result {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
    long maxRssKb = 0;  // its peak memory
};

std::string slurp(const std::filesystem::path& p);

// Execs args[0] with args; never returns.
[[noreturn]] void execArgs(std::vector<std::string>& args);

// Where a tool run reads and writes: stdin from `input` (empty: an empty file),
// stdout to `outFile`, stderr to `errFile`.
struct ToolFiles {
    std::filesystem::path input, outFile, errFile;
};

// Starts args in `dir` with OSTRAKAN_DEVICES=dir, over a clean OSTRAKAN_PORT,
// OSTRAKAN_LOG and locale, then `env` ("NAME=value"). *done (may be null) gets
// the read end of a pipe whose write end only the child holds: it hangs up when
// the child ends.
pid_t spawnTool(std::vector<std::string> args, const std::filesystem::path& dir, std::vector<std::string> env,
                const ToolFiles& files, int* done);

// Waits for a child started by spawnTool (its `done` pipe) for at most
// timeoutMs, kills it after that and fails the test; then reads its output.
Result finishTool(pid_t pid, int done, const ToolFiles& files, int timeoutMs, bool readOut = true);

// Starts a server (the simulator) and waits until its stdout has printed at
// least `lines` lines, its pseudo-terminals: then it serves; its stderr is appended to errFile. The
// printed lines go to *printed.
pid_t startServer(std::vector<std::string> args, const std::filesystem::path& errFile, int lines,
                  std::vector<std::string>* printed);

}  // namespace ostrakan::e2e
