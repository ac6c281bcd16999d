#include "tools/cli/probe.h"

namespace ostrakan::cli {

// A COM name the system lists, opened as the window opens it; one that refused
// our exclusive open while it was listed is held by another program.
ProbeTarget probeTarget(const PortInfo& p) { return {p.comName, p.comName, p.inUse, p.holders}; }

}  // namespace ostrakan::cli
