// ports: every serial port, its USB identity and who holds it
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"

namespace ostrakan::cli {

namespace {

void printPortsJson(const std::vector<PortInfo>& ports) {
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
        json.key("in_use").value(p.inUse);
        optional("held_by", p.holders);
        json.endObject();
    }
    printJson(json.endArray());
}

}  // namespace

int portsCommand(const Parsed&, const Context& context) {
    const std::vector<PortInfo> ports = ostrakan::listPorts();
    if (context.json) {
        printPortsJson(ports);
        return kExitDone;
    }
    for (const PortInfo& p : ports) {
        // "COM33 /dev/ttyUSB0 free usb=0403:6001 maker="FTDI" ...": the COM name
        // (or "-") and the device first, as scripts read them.
        std::string line = (p.comName.empty() ? "-" : p.comName) + " " + p.path + (p.inUse ? " in-use" : " free");
        if (!p.usbId.empty()) line += " usb=" + p.usbId;
        if (!p.maker.empty()) line += " maker=\"" + p.maker + "\"";
        if (!p.product.empty()) line += " product=\"" + p.product + "\"";
        if (!p.byId.empty()) line += " by-id=" + p.byId;
        if (!p.holders.empty()) line += " held-by=\"" + p.holders + "\"";
        printOut("%s\n", line.c_str());
    }
    if (ports.empty()) printErr("ostrakan-cli: no serial ports found\n");
    return kExitDone;
}

}  // namespace ostrakan::cli
