// read PARAMETER | channels
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/operations.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

int readParameter(Session& s, const Context& context, int index) {
    std::string text, why;
    if (const int status = fetchParameter(s, index, &text, &why)) return report(status, why);
    if (context.json)
        printJson(JsonWriter().beginObject().key(kParameterNames[index]).value(cp1251ToUtf8(text)).endObject());
    else printLine(text);
    return kExitDone;
}

int readChannels(Session& s, const Context& context) {
    Channels channels;
    std::string why;
    if (const int status = fetchChannels(s, &channels, &why)) return report(status, why);
    if (context.json) {
        JsonWriter json;
        json.beginObject().key("channels").beginArray();
        for (const ProfileChannel& c : channels)
            json.beginObject().key("A").value(c.a).key("T").value(c.t).key("BX").value(c.bx).endObject();
        printJson(json.endArray().endObject());
        return kExitDone;
    }
    for (std::size_t n = 1; n <= kChannelCount; ++n) {
        const ProfileChannel& c = channels[n - 1];
        printOut("%zu %d %d %d\n", n, c.a ? 1 : 0, c.t ? 1 : 0, c.bx ? 1 : 0);
    }
    return kExitDone;
}

}  // namespace

int readCommand(const Parsed& p, const Context& context) {
    // A command-line mistake, answered as the others are: one line and the hint.
    if (p.what.empty())
        return refuse("read: say what to read: period, address, phone1, phone2, sms or channels\n"
                      "Run with --help for more information.");
    const int index = parameterIndex(p.what);
    return runOnPort(p, context, [&](Session& s) {
        return index < 0 ? readChannels(s, context) : readParameter(s, context, index);
    });
}

}  // namespace ostrakan::cli
