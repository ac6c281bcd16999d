#include "tools/cli/probe.h"

#include "serial/windows/port_list.h"

namespace ostrakan::cli {

// The COM names the system lists; one another program holds refused our
// exclusive open while they were listed.
std::vector<ProbeTarget> probeTargets() {
    std::vector<ProbeTarget> targets;
    for (const PortInfo& p : listPorts()) targets.push_back({p.comName, p.comName, p.inUse, p.holders});
    return targets;
}

}  // namespace ostrakan::cli
