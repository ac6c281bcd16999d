// The unit log (--log FILE, OSTRAKAN_LOG): one JSON line per unit operation, so
// that a fleet's history can be searched with jq. A line is appended whole (one
// write on a file opened for appending), so that two runs writing one log at
// once leave whole lines. It never holds a password.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ostrakan::cli {

// An item the unit reads otherwise than the profile holds (texts UTF-8).
struct Difference {
    std::string path;     // "controller.period", "channel 3 A", "modem.ip", ...
    std::string profile;  // what the profile holds
    std::string unit;     // what the unit reads
};

struct UnitLogEntry {
    std::string port;
    std::string operation;  // "write", "modem write", "restore", "verify", "provision"
    std::string status;     // "ok", "different", "no-answer", "lost", "port-trouble", ...
    int exit = 0;
    std::string error;                 // empty when none
    std::string profileSha256;         // empty for a command without a profile
    std::vector<std::string> written;  // profile paths written
    std::vector<Difference> differences;
    std::vector<std::pair<std::string, std::string>> values;  // this unit's own items, never a password
};

// The entry as one JSON line, "\n" included; `now` gives its UTC time.
std::string unitLogLine(const UnitLogEntry& entry, std::chrono::system_clock::time_point now);

// "2026-12-07T18:10:00.123Z".
std::string isoUtc(std::chrono::system_clock::time_point t);

// The log file, opened once before any unit is touched and shared by the
// provisioning workers. tools/cli/unix/unit_log.cpp and
// tools/cli/windows/unit_log.cpp define open, append and the destructor.
class UnitLogFile {
public:
    UnitLogFile() = default;
    UnitLogFile(const UnitLogFile&) = delete;
    UnitLogFile& operator=(const UnitLogFile&) = delete;
    ~UnitLogFile();

    // Opens (creating, for its owner only where the system has modes) for appending.
    bool open(const std::string& path, std::string* why);
    bool isOpen() const { return handle_ != kClosed; }
    // One write of the whole line, flushed to the file; safe from several threads.
    bool append(const std::string& line, std::string* why);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
};

}  // namespace ostrakan::cli
