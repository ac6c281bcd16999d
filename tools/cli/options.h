// The command line: every command and option, defined once with CLI11, parsed
// into a plain struct the commands read.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace ostrakan::cli {

enum class CommandName { Read, Write, ModemRead, ModemWrite, Ports, Dump, Restore, Provision };

struct Parsed {
    CommandName command = CommandName::Ports;
    std::string port = "COM1";
    bool trace = false;
    std::string traceFile;            // --trace-file: a session trace appended here
    bool json = false;                // --json
    std::string what;                 // read/write: period, ..., channels
    std::vector<std::string> values;  // write: the value or the channel boxes
    std::string entries[4];           // modem write, as typed: ip, apn, user, password
    bool given[4] = {};               // modem write: which of them were on the line
    std::string passwordFile;
    bool noInternet = false;
    std::string profileFile;          // restore, provision
    std::string outFile;              // dump -o
    bool noVerify = false;
    std::string ports;                // provision --ports
    std::string reportFile;           // provision --report
};

// The tool's command line, storing into *p when parsed. Global options go
// anywhere on the line (also after the command, through fallthrough).
std::unique_ptr<CLI::App> defineCommandLine(Parsed* p);

// parseCommandLine's "carry on": the command is to run.
constexpr int kRunCommand = -1;
// Parses the arguments into *p. kRunCommand, or the exit status when the
// command line was answered already (help, version) or refused (printed).
int parseCommandLine(int argc, char** argv, Parsed* p);

// An argument the user typed, in the device's code page. False (after saying
// why) for a character 1251 cannot hold.
bool argumentText(const std::string& what, const std::string& typed, std::string* bytes);

}  // namespace ostrakan::cli
