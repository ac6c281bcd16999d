#include "tools/cli/probe.h"

namespace ostrakan::cli {

// The device itself (a comN link of the devices directory is listed instead of
// the device it reaches, never beside it); shown by its COM name where it has one.
ProbeTarget probeTarget(const PortInfo& p) {
    return {p.comName.empty() ? p.path : p.comName, p.path, p.inUse, p.holders};
}

}  // namespace ostrakan::cli
