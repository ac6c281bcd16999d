// The simulator's command line: where to serve, what to trace, which faults to
// play. Faults select requests by name (DeviceModel::nameOf): the exact name, a
// prefix of it, or "*" for every request; "U=MATCH" limits a fault to unit U.
#pragma once

#include <string>
#include <vector>

#include "tools/sim/device_model.h"

namespace ostrakan::sim {

enum class FaultKind {
    Silent,    // --silent MATCH: no answer
    Error,     // --error MATCH: "\r\nERROR\r\n" instead of the answer
    Delay,     // --delay MATCH:MS: answer MS milliseconds late
    Chunks,    // --chunks MATCH:SIZE:GAP: answer in SIZE-byte pieces GAP ms apart
    Garble,    // --garble MATCH: every byte at an odd offset XOR 0x20
    Truncate,  // --truncate MATCH:N: only the first N bytes
    Long,      // --long MATCH:N: the answer padded with '~' to N bytes, one burst
    IgnoreWrites,  // --ignore-writes MATCH: answered as usual, but nothing is kept
};

struct Fault {
    FaultKind kind;
    std::string match;
    int a = 0;  // MS, SIZE or N
    int b = 0;  // GAP
    int unit = 0;  // 1..N: only that unit of --units N; 0: every unit
};

// The faults that apply to unit `unit` (1-based).
std::vector<Fault> faultsOfUnit(const std::vector<Fault>& faults, int unit);

bool faultMatches(const Fault& fault, const std::string& name);

// What goes on the line for one answer.
struct Transmission {
    std::string bytes;
    int delayMs = 0;
    std::size_t chunkSize = 0;  // 0: all at once
    int chunkGapMs = 0;
};

// Applies the faults matching `name`, in the order given, to the device's answer.
Transmission planTransmission(const std::vector<Fault>& faults, const std::string& name,
                              const std::string& answer);

struct SimOptions {
    std::string link;        // --link PATH: a symbolic link to the pseudo-terminal
    std::string device;      // --device PATH: serve an existing serial device instead
    bool trace = false;      // --trace: exchanges to stderr
    std::string traceFile;   // --trace-file PATH: exchanges to this file
    bool blank = false;      // --blank: a unit that was never configured
    bool echo = false;       // --echo: the modem starts with command echo on
    int hangUpAfter = -1;    // --hang-up-after N: answer N requests, then close the line
    int units = 1;           // --units N: independent units, each on its own pseudo-terminal
    std::string linkDir;     // --link-dir DIR: unit K linked as DIR/comK
    bool pace = false;       // --pace: answers go out at the line's speed, 9600 baud
    std::string replay;      // --replay FILE: answer as the session trace in FILE recorded
    std::vector<Fault> faults;
};

// Parses argv[first..argc). On error returns false with a one-line message. For
// --help and --version returns true with the text to print in *exitText (when
// given), and the program then ends.
bool parseSimOptions(int argc, char** argv, int first, SimOptions* options, std::string* error,
                     std::string* exitText = nullptr);

}  // namespace ostrakan::sim
