#include "tools/cli/probe.h"

#include "serial/unix/port_list.h"

namespace ostrakan::cli {

// The devices themselves: a comN link of the devices directory and the device
// it reaches are listed once already.
std::vector<ProbeTarget> probeTargets() {
    std::vector<ProbeTarget> targets;
    for (const PortInfo& p : listPorts())
        targets.push_back({p.comName.empty() ? p.path : p.comName, p.path, p.inUse, p.holders});
    return targets;
}

}  // namespace ostrakan::cli
