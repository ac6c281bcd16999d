#include "tools/sim/sim_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "serial/trace.h"
#include "version.h"

namespace ostrakan::sim {

bool faultMatches(const Fault& fault, const std::string& name) {
    return fault.match == "*" || name.compare(0, fault.match.size(), fault.match) == 0;
}

std::vector<Fault> faultsOfUnit(const std::vector<Fault>& faults, int unit) {
    std::vector<Fault> mine;
    for (const Fault& f : faults)
        if (f.unit == 0 || f.unit == unit) mine.push_back(f);
    return mine;
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
        case FaultKind::IgnoreWrites: break;  // the server keeps the model as it was
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

bool parseSimOptions(int argc, char** argv, int first, SimOptions* options, std::string* error,
                     std::string* exitText) {
    static const struct {
        const char* flag;
        FaultKind kind;
        int numbers;
        const char* help;
    } kFaults[] = {
        {"--silent", FaultKind::Silent, 0, "no answer"},
        {"--error", FaultKind::Error, 0, "answer \\r\\nERROR\\r\\n"},
        {"--delay", FaultKind::Delay, 1, "MATCH:MS  answer MS milliseconds late"},
        {"--chunks", FaultKind::Chunks, 2, "MATCH:SIZE:GAP  answer in SIZE-byte pieces, GAP ms apart"},
        {"--garble", FaultKind::Garble, 0, "flip bit 5 of every byte at an odd offset"},
        {"--truncate", FaultKind::Truncate, 1, "MATCH:N  send only the first N bytes"},
        {"--long", FaultKind::Long, 1, "MATCH:N  pad the answer with '~' to N bytes, in one burst"},
        {"--ignore-writes", FaultKind::IgnoreWrites, 0, "answer as usual but keep nothing (e.g. write:period)"},
    };
    constexpr std::size_t kFaultKinds = sizeof kFaults / sizeof kFaults[0];

    CLI::App app("Serves the simulated controller and modem on a new pseudo-terminal (its path is\n"
                 "printed on the first line of stdout) or on an existing serial device, until killed.\n"
                 "Faults repeat and apply in the order given; MATCH is a request name such as\n"
                 "read:period, write:channels, ATE0, AT^SIPS=service,load,0, a prefix of one, or *;\n"
                 "U=MATCH (U a unit number, e.g. --silent 2=*) limits the fault to unit U of --units.",
                 "ostrakan-sim");
    app.set_version_flag("--version", "ostrakan-sim " OSTRAKAN_VERSION);
    CLI::Option* link = app.add_option("--link", options->link, "also make PATH a symbolic link to the pseudo-terminal");
    CLI::Option* device = app.add_option("--device", options->device, "serve this serial device (raw, 9600 8N1)");
    link->excludes(device);
    CLI::Option* units = app.add_option("--units", options->units,
                                        "serve N independent units, each on a pseudo-terminal of its own")
                             ->type_name("N")
                             ->check(CLI::Range(1, kMaxSessionTraces - 1));
    CLI::Option* linkDir =
        app.add_option("--link-dir", options->linkDir, "link unit K as DIR/comK (COMK with OSTRAKAN_DEVICES=DIR)")
            ->type_name("DIR");
    units->excludes(device);
    linkDir->excludes(device)->excludes(link);
    app.add_flag("--pace", options->pace, "send answers at 9600 baud, 1.04 ms a byte, instead of all at once");
    app.add_option("--replay", options->replay,
                   "answer each request as the session trace in FILE recorded (ostrakan-cli --trace-file)")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    app.add_flag("--trace", options->trace, "trace the exchanges to stderr");
    app.add_option("--trace-file", options->traceFile, "append the trace to PATH");
    app.add_flag("--blank", options->blank, "a unit that was never configured");
    app.add_flag("--echo", options->echo, "the modem starts with command echo on");
    app.add_option("--hang-up-after", options->hangUpAfter,
                   "answer N requests; at the next one close the line (the program sees the device go away)")
        ->type_name("N")
        ->check(CLI::Range(0, 999999));
    std::vector<std::string> values[kFaultKinds];
    CLI::Option* faultOptions[kFaultKinds];
    for (std::size_t k = 0; k < kFaultKinds; ++k)
        faultOptions[k] = app.add_option(kFaults[k].flag, values[k], kFaults[k].help)
                              ->type_name("MATCH")
                              ->allow_extra_args(false)
                              ->group("Faults");

    std::vector<std::string> args(argv + first, argv + argc);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        if (exitText) *exitText = app.help();
        return true;
    } catch (const CLI::CallForVersion& e) {
        if (exitText) *exitText = std::string(e.what()) + "\n";
        return true;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return false;
    }

    if (options->units > 1 && !options->link.empty()) {
        *error = "--link names one unit's link; give several units --link-dir DIR";
        return false;
    }

    // Every fault in the order given, whatever its kind.
    std::size_t taken[kFaultKinds] = {};
    for (const CLI::Option* o : app.parse_order()) {
        std::size_t k = 0;
        while (k < kFaultKinds && faultOptions[k] != o) ++k;
        if (k == kFaultKinds || taken[k] >= values[k].size()) continue;
        const std::string& argument = values[k][taken[k]++];
        // "U=MATCH": no request name starts with a digit, so a leading number and
        // '=' can only be a unit.
        std::string match = argument;
        int unit = 0;
        const std::size_t digits = argument.find_first_not_of("0123456789");
        if (digits > 0 && digits != std::string::npos && digits <= 4 && argument[digits] == '=') {
            unit = std::atoi(argument.c_str());
            match = argument.substr(digits + 1);
            if (unit < 1 || unit > options->units) {
                *error = std::string(kFaults[k].flag) + ": there is no unit " + std::to_string(unit) + " (--units " +
                         std::to_string(options->units) + ")";
                return false;
            }
        }
        Fault fault{kFaults[k].kind, match, 0, 0, unit};
        if (match.empty()) {
            *error = std::string(kFaults[k].flag) + ": no MATCH in \"" + argument + "\"";
            return false;
        }
        if (kFaults[k].numbers > 0 && !splitNumbers(match, kFaults[k].numbers, &fault)) {
            *error = std::string(kFaults[k].flag) + ": cannot read \"" + argument + "\"";
            return false;
        }
        if (fault.kind == FaultKind::Chunks && fault.a == 0) {
            *error = "--chunks: SIZE must be at least 1";
            return false;
        }
        options->faults.push_back(fault);
    }
    return true;
}

}  // namespace ostrakan::sim
