// write PARAMETER VALUE | channels N:A N:T N:BX ...
#include "controller/frames.h"
#include "tools/cli/cli.h"
#include "tools/cli/commands/commands.h"
#include "tools/cli/operations.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

int parseChannels(const std::vector<std::string>& words, int* channelBits) {
    // No list is more often a slip than a wish to clear every channel.
    if (words.empty())
        return refuse("write channels: give the boxes to set (N:A, N:T, N:BX), or \"none\" to clear all 31");
    if (words.size() == 1 && words[0] == "none") return kExitDone;
    for (const std::string& w : words) {
        const std::size_t colon = w.find(':');
        const std::string number = w.substr(0, colon);
        const std::string column = colon == std::string::npos ? "" : w.substr(colon + 1);
        int n = 0;
        if (number.empty() || number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos ||
            (n = std::stoi(number)) < 1 || n > static_cast<int>(kChannelCount))
            return refuse("write channels: bad channel in \"" + w + "\" (1..31)");
        int bit = 0;
        if (column == "A") bit = kChannelA;
        else if (column == "T") bit = kChannelT;
        else if (column == "BX") bit = kChannelBx;
        else return refuse("write channels: bad box in \"" + w + "\" (A, T or BX)");
        channelBits[n - 1] |= bit;
    }
    return kExitDone;
}

int parseParameterWrite(const std::string& name, const std::vector<std::string>& values, int index,
                        std::string* value) {
    if (values.size() != 1) return refuse("write " + name + ": give exactly one value");
    if (!argumentText("write " + name, values[0], value)) return kExitUsage;
    const auto* text = reinterpret_cast<const std::uint8_t*>(value->data());
    if (index <= kAddressField && !isValueText(text, value->size()))
        return refuse("write: the value must be exactly three digits 0..9, e.g. 007");
    if (index >= kPhone1Field && value->size() > kMaxPhoneDigits)
        return refuse("write: a telephone number holds at most 18 characters");
    return kExitDone;
}

}  // namespace

int writeCommand(const Parsed& p, const Context& context) {
    if (p.what == "channels") {
        int bits[kChannelCount] = {};
        if (const int status = parseChannels(p.values, bits)) return status;
        return runOnPort(p, context, [&](Session& s) {
            std::string why;
            if (const int status = sendChannels(s, bits, &why)) return report(status, why);
            printErr("ostrakan-cli: channels sent\n");
            return static_cast<int>(kExitDone);
        });
    }
    const int index = parameterIndex(p.what);
    std::string value;  // 1251 bytes
    if (const int status = parseParameterWrite(p.what, p.values, index, &value)) return status;
    return runOnPort(p, context, [&](Session& s) {
        std::string why;
        if (const int status = sendParameter(s, index, value, &why)) return report(status, why);
        printErr("ostrakan-cli: %s %s sent\n", kParameterNames[index], fromCp1251(value).c_str());
        return static_cast<int>(kExitDone);
    });
}

}  // namespace ostrakan::cli
