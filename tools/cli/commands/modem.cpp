// modem read | modem write [--ip ...] [--apn ...] [--user ...] [--password ...] | --no-internet
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/operations.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/secrets.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

int modemReadCommand(const Parsed& p, const Context& context) {
    return runOnPort(p, context, [&](Session& s) {
        ModemReading r;
        std::string why;
        if (const int status = fetchModem(s, &r, &why)) return report(status, why);
        if (r.status != "Ok!") return report(kExitNoAnswer, r.status, true);
        if (context.json) {
            printJson(JsonWriter()
                          .beginObject()
                          .key("ip").value(cp1251ToUtf8(r.ip))
                          .key("apn").value(cp1251ToUtf8(r.apn))
                          .key("user").value(cp1251ToUtf8(r.user))
                          .endObject());
            return static_cast<int>(kExitDone);
        }
        printOut("IP Address: %s\nAPN: %s\nUser: %s\n", fromCp1251(r.ip).c_str(), fromCp1251(r.apn).c_str(),
                 fromCp1251(r.user).c_str());
        return static_cast<int>(kExitDone);
    });
}

int modemWriteCommand(const Parsed& p, const Context& context) {
    ModemEntries m;
    m.noInternet = p.noInternet;
    std::string typed[4];
    for (int k = 0; k < 4; ++k) {
        m.given[k] = p.given[k];
        typed[k] = p.entries[k];
    }
    if (!p.passwordFile.empty()) m.given[3] = true;
    if (p.noInternet)
        for (bool given : m.given)
            if (given) return refuse("modem write: --no-internet erases the internet profiles; it takes no entries");
    // Before the password is asked for: a refusal should not follow the typing.
    std::string why;
    if (!p.noInternet && checkModemSources(m.given, false, &why) != kExitDone) return refuse("modem write: " + why);
    if (!p.passwordFile.empty()) {
        if (passwordFromFile(p.passwordFile, &typed[3], &why) != kExitDone) return refuse(why);
    } else if (m.given[3] && typed[3] == "-") {
        if (const int status = passwordFromInput(context, &typed[3], &why))
            return why.empty() ? report(status, why) : refuse(why);
    }
    static const char* const kFlags[4] = {"--ip", "--apn", "--user", "--password"};
    for (int k = 0; k < 4; ++k)
        if (m.given[k] && !argumentText(std::string("modem write ") + kFlags[k], typed[k], &m.entries[k]))
            return kExitUsage;

    return runOnPort(p, context, [&](Session& s) {
        std::string failure;
        if (const int status = sendModem(s, m, &failure))
            return status == kExitUsage ? refuse(failure) : report(status, failure, true);
        if (context.json) printJson(JsonWriter().beginObject().key("status").value("Ok!").endObject());
        else printOut("Ok!\n");
        return static_cast<int>(kExitDone);
    });
}

}  // namespace ostrakan::cli
