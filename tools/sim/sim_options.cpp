#include "tools/sim/sim_options.h"

#include <cstdlib>
#include <cstring>

namespace ostrakan::sim {

const char kSimUsage[] =
    "usage: ostrakan-sim [--link PATH | --device PATH] [--trace] [--trace-file PATH]\n"
    "                    [--blank] [--echo] [FAULT ...]\n"
    "Serves the simulated controller and modem on a new pseudo-terminal (its path is\n"
    "printed on the first line of stdout) or on an existing serial device, until killed.\n"
    "Faults (repeatable; MATCH is a request name such as read:period, write:channels,\n"
    "ATE0, AT^SIPS=service,load,0, a prefix of one, or *):\n"
    "  --silent MATCH            no answer\n"
    "  --error MATCH             answer \\r\\nERROR\\r\\n\n"
    "  --delay MATCH:MS          answer MS milliseconds late\n"
    "  --chunks MATCH:SIZE:GAP   answer in SIZE-byte pieces, GAP ms apart\n"
    "  --garble MATCH            flip bit 5 of every byte at an odd offset\n"
    "  --truncate MATCH:N        send only the first N bytes\n"
    "  --long MATCH:N            pad the answer with '~' to N bytes, in one burst\n"
    "  --hang-up-after N         answer N requests; at the next one close the line\n"
    "                            (the program sees the device go away)\n"
    "With --device, a device that hangs up (an adapter pulled) is opened again once\n"
    "it is back.\n";

bool faultMatches(const Fault& fault, const std::string& name) {
    return fault.match == "*" || name.compare(0, fault.match.size(), fault.match) == 0;
}

Transmission planTransmission(const std::vector<Fault>& faults, const std::string& name,
                              const std::string& answer) {
    Transmission t;
    t.bytes = answer;
    for (const Fault& f : faults) {
        if (!faultMatches(f, name)) continue;
        switch (f.kind) {
        case FaultKind::Silent: t.bytes.clear(); break;
        case FaultKind::Error: t.bytes = kReplyError; break;
        case FaultKind::Delay: t.delayMs = f.a; break;
        case FaultKind::Chunks:
            t.chunkSize = static_cast<std::size_t>(f.a);
            t.chunkGapMs = f.b;
            break;
        case FaultKind::Garble:
            for (std::size_t i = 1; i < t.bytes.size(); i += 2) t.bytes[i] = static_cast<char>(t.bytes[i] ^ 0x20);
            break;
        case FaultKind::Truncate:
            if (t.bytes.size() > static_cast<std::size_t>(f.a)) t.bytes.resize(static_cast<std::size_t>(f.a));
            break;
        case FaultKind::Long:
            if (!t.bytes.empty() && t.bytes.size() < static_cast<std::size_t>(f.a))
                t.bytes.append(static_cast<std::size_t>(f.a) - t.bytes.size(), '~');
            break;
        }
    }
    return t;
}

namespace {

// "MATCH:N[:M]": the numbers are taken from the end, so a MATCH may hold colons.
bool splitNumbers(const std::string& arg, int count, Fault* fault) {
    std::string rest = arg;
    int values[2] = {0, 0};
    for (int i = count - 1; i >= 0; --i) {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        const std::string number = rest.substr(colon + 1);
        if (number.empty() || number.size() > 6 || number.find_first_not_of("0123456789") != std::string::npos)
            return false;
        values[i] = std::atoi(number.c_str());
        rest.resize(colon);
    }
    if (rest.empty()) return false;
    fault->match = rest;
    fault->a = values[0];
    fault->b = values[1];
    return true;
}

}  // namespace

bool parseSimOptions(int argc, char** argv, int first, SimOptions* options, std::string* error) {
    static const struct {
        const char* flag;
        FaultKind kind;
        int numbers;
    } kFaults[] = {
        {"--silent", FaultKind::Silent, 0},     {"--error", FaultKind::Error, 0},
        {"--delay", FaultKind::Delay, 1},       {"--chunks", FaultKind::Chunks, 2},
        {"--garble", FaultKind::Garble, 0},     {"--truncate", FaultKind::Truncate, 1},
        {"--long", FaultKind::Long, 1},
    };
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (arg == "--link") {
            if (!value(&options->link)) return false;
        } else if (arg == "--device") {
            if (!value(&options->device)) return false;
        } else if (arg == "--trace-file") {
            if (!value(&options->traceFile)) return false;
        } else if (arg == "--trace") {
            options->trace = true;
        } else if (arg == "--blank") {
            options->blank = true;
        } else if (arg == "--echo") {
            options->echo = true;
        } else if (arg == "--hang-up-after") {
            std::string n;
            if (!value(&n)) return false;
            if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) {
                *error = "--hang-up-after: cannot read \"" + n + "\"";
                return false;
            }
            options->hangUpAfter = std::atoi(n.c_str());
        } else {
            bool known = false;
            for (const auto& f : kFaults) {
                if (arg != f.flag) continue;
                known = true;
                std::string argument;
                if (!value(&argument)) return false;
                Fault fault{f.kind, argument, 0, 0};
                if (f.numbers > 0 && !splitNumbers(argument, f.numbers, &fault)) {
                    *error = arg + ": cannot read \"" + argument + "\"";
                    return false;
                }
                if (f.kind == FaultKind::Chunks && fault.a == 0) {
                    *error = "--chunks: SIZE must be at least 1";
                    return false;
                }
                options->faults.push_back(fault);
            }
            if (!known) {
                *error = "unknown option " + arg;
                return false;
            }
        }
    }
    if (!options->link.empty() && !options->device.empty()) {
        *error = "--link and --device exclude each other";
        return false;
    }
    return true;
}

}  // namespace ostrakan::sim
