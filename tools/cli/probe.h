// "ports --probe": which port has a unit behind it. Each port nobody holds is
// opened at 9600 8N1 and sent one controller read of the polling period, all
// ports at once, and given about a second to answer. A port in use is never
// opened. Off by default: it sends bytes to whatever device is there.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "tools/cli/platform.h"

namespace ostrakan::cli {

struct ProbeTarget {
    std::string name;     // as "ports" shows it: COM3, or the device path
    std::string device;   // what the session opens
    bool inUse = false;   // held by another program: not probed
    std::string holders;  // who holds it, when known
};

// A port "ports" lists, as the probe opens it. tools/cli/unix/probe.cpp and
// tools/cli/windows/probe.cpp define it.
ProbeTarget probeTarget(const PortInfo& port);

struct ProbeResult {
    bool probed = false;    // opened and asked
    bool answered = false;  // a unit answered the read
    std::string period;     // what it answered (three digits)
    std::string error;      // why it was not probed or did not open
};

// Probes every free target at once; results in the targets' order. Ends after
// `limit`, or at once when *interrupted is set.
std::vector<ProbeResult> probePorts(const std::vector<ProbeTarget>& targets, const std::atomic<int>& interrupted,
                                    std::chrono::milliseconds limit);

}  // namespace ostrakan::cli
