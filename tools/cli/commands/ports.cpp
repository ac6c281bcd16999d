// ports [--probe]: every serial port, its USB identity and who holds it; with
// --probe, which of them has a unit behind it
#include <chrono>

#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/probe.h"

namespace ostrakan::cli {

namespace {

// What the probe found on the port at `i`, or nullptr without --probe.
const ProbeResult* probeOf(const std::vector<ProbeResult>& probes, std::size_t i) {
    return i < probes.size() ? &probes[i] : nullptr;
}

std::string probeWords(const ProbeResult& r) {
    if (r.answered) return " probe=unit period=" + r.period;
    if (r.probed) return " probe=silent";
    return " probe=not-probed";
}

void printPortsJson(const std::vector<PortInfo>& ports, const std::vector<ProbeResult>& probes) {
    JsonWriter json;
    const auto optional = [&](const char* key, const std::string& v) {
        json.key(key);
        if (v.empty()) json.null();
        else json.value(v);
    };
    json.beginArray();
    for (const PortInfo& p : ports) {
        json.beginObject();
        optional("com", p.comName);
        json.key("device").value(p.path);
        optional("by_id", p.byId);
        optional("usb", p.usbId);
        optional("maker", p.maker);
        optional("product", p.product);
        json.key("in_use");
        if (p.inUseKnown) json.value(p.inUse);
        else json.null();
        optional("held_by", p.holders);
        if (const ProbeResult* r = probeOf(probes, static_cast<std::size_t>(&p - ports.data()))) {
            json.key("probe").beginObject().key("probed").value(r->probed).key("answered").value(r->answered);
            optional("period", r->period);
            optional("error", r->error);
            json.endObject();
        }
        json.endObject();
    }
    printJson(json.endArray());
}

}  // namespace

int portsCommand(const Parsed& parsed, const Context& context) {
    const std::vector<PortInfo> ports = ostrakan::listPorts();
    if (context.stopped()) return report(context.interruptedStatus(), "interrupted");
    std::vector<ProbeResult> probes;
    if (parsed.probe) {
        // The same ports in the same order, as the probe opens them.
        std::vector<ProbeTarget> targets;
        for (const PortInfo& p : ports) targets.push_back(probeTarget(p));
        probes = probePorts(targets, *context.interrupted, std::chrono::milliseconds(1000));
        if (context.stopped()) return report(context.interruptedStatus(), "interrupted");
    }
    if (context.json) {
        printPortsJson(ports, probes);
        return kExitDone;
    }
    for (const PortInfo& p : ports) {
        // "COM33 /dev/ttyUSB0 free usb=0403:6001 maker="FTDI" ...": the COM name
        // (or "-") and the device first, as scripts read them.
        std::string line = (p.comName.empty() ? "-" : p.comName) + " " + p.path + (p.inUse ? " in-use" : p.inUseKnown ? " free" : " unknown");
        if (!p.usbId.empty()) line += " usb=" + p.usbId;
        if (!p.maker.empty()) line += " maker=\"" + p.maker + "\"";
        if (!p.product.empty()) line += " product=\"" + p.product + "\"";
        if (!p.byId.empty()) line += " by-id=" + p.byId;
        if (!p.holders.empty()) line += " held-by=\"" + p.holders + "\"";
        if (const ProbeResult* r = probeOf(probes, static_cast<std::size_t>(&p - ports.data()))) line += probeWords(*r);
        printOut("%s\n", line.c_str());
    }
    if (ports.empty()) printErr("ostrakan-cli: no serial ports found\n");
    return kExitDone;
}

}  // namespace ostrakan::cli
