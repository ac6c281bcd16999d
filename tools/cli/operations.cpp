#include "tools/cli/operations.h"

#include <cstdio>
#include <cstring>

#include "controller/frames.h"
#include "modem/commands.h"
#include "resources/resource.h"
#include "settings/settings_file.h"
#include "tools/cli/cli.h"

namespace ostrakan::cli {

const char* const kParameterNames[kParameterCount] = {"period", "address", "phone1", "phone2", "sms"};

int parameterIndex(const std::string& name) {
    for (int i = 0; i < kParameterCount; ++i)
        if (name == kParameterNames[i]) return i;
    return -1;
}

namespace {

const char* const kNoAnswer = "the controller did not answer in time";
const char* const kNotSavedMessage = "the modem took the entries, but _data.ini could not be written";

int boxId(int column, int n) {
    return column == 0 ? channelAId(n) : column == 1 ? channelTId(n) : channelBxId(n);
}

bool hasLineBreak(const char* text) { return std::strpbrk(text, "\r\n\x1A") != nullptr; }

}  // namespace

bool holdsNoInternet(const ModemReading& r) {
    if (r.status == "Empty0" || r.status == "Empty9") return true;
    return r.status == "Ok!" && r.ip.empty() && r.apn.empty();
}

int checkModemSources(const bool given[4], bool fromProfile, std::string* why) {
    // The lines of "_data.ini" as the panel loads them: LF-separated, the fourth
    // may end at the end of the data; a file of 100 bytes or more loads nothing.
    bool held[4] = {};
    std::uint8_t data[kSettingsReadSize] = {};
    std::size_t count = 0;
    if (readSettingsFile(data, &count) == 0 && count < kSettingsReadSize) {
        std::size_t start = 0;
        for (int k = 0; k < 4 && start <= count; ++k) {
            const void* lf = std::memchr(data + start, '\n', count - start);
            if (!lf && k < 3) break;
            const std::size_t end = lf ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - data) : count;
            held[k] = end > start;
            start = end + 1;
        }
    }
    static const char* const kNames[4] = {"IP address", "APN", "user", "password"};
    static const char* const kOptions[4] = {"--ip", "--apn", "--user", "--password or --password-file"};
    static const char* const kKeys[4] = {"modem.ip", "modem.apn", "modem.user",
                                         "modem.password or --password-file"};
    std::string missing;
    for (int k = 0; k < 4; ++k) {
        if (given[k] || held[k]) continue;
        missing += std::string(missing.empty() ? "" : ", ") + "the " + kNames[k] + " (" +
                   (fromProfile ? kKeys[k] : kOptions[k]) + ")";
    }
    if (missing.empty()) return kExitDone;
    *why = "nothing gives " + missing + ", and _data.ini does not hold " +
           (missing.find(',') == std::string::npos ? "it" : "them") +
           ": the modem would be sent a blank in its place; give each (\"\" for an empty one)";
    return kExitUsage;
}

int fetchParameter(Session& s, int index, std::string* text, std::string* why) {
    const Waiting w = runProcedure(s, IDC_PARAMETER_READ_BASE + index, static_cast<Request>(kReadPeriod + 2 * index));
    if (const int status = afterProcedure(s, why)) return status;
    if (w.timedOut) {
        *why = kNoAnswer;
        return kExitNoAnswer;
    }
    *text = textOf(s, s.core.controllerPanel.parameterFields[index]);
    // A value read always shows three digits; a reply too short to carry the
    // byte leaves the (fresh, empty) field as it was.
    if (index <= kAddressField && text->size() != 3) {
        *why = "the controller's reply carried no value";
        return kExitNoAnswer;
    }
    return kExitDone;
}

int sendParameter(Session& s, int index, const std::string& value, std::string* why) {
    TextField& field = s.core.controllerPanel.parameterFields[index];
    s.window.typeInto(field.control(), value.c_str());
    runProcedure(s, IDC_PARAMETER_WRITE_BASE + index, static_cast<Request>(kWritePeriod + 2 * index));
    return afterWrite(s, kParameterNames[index], why);
}

int fetchChannels(Session& s, Channels* channels, std::string* why) {
    const Waiting w = runProcedure(s, IDC_CHANNELS_READ, kReadChannels);
    if (const int status = afterProcedure(s, why)) return status;
    if (w.timedOut) {
        *why = kNoAnswer;
        return kExitNoAnswer;
    }
    const auto set = [&](int column, int n) { return s.window.checkState(boxId(column, n)) == Checked; };
    for (int n = 1; n <= static_cast<int>(kChannelCount); ++n) (*channels)[n - 1] = {set(0, n), set(1, n), set(2, n)};
    return kExitDone;
}

int sendChannels(Session& s, const int* bits, std::string* why) {
    static const int kBits[3] = {kChannelA, kChannelT, kChannelBx};
    // Click every box whose state is not the wanted one, as a user would.
    for (int column = 0; column < 3; ++column) {
        for (int n = 1; n <= static_cast<int>(kChannelCount); ++n) {
            const int want = (bits[n - 1] & kBits[column]) ? Checked : Unchecked;
            const int id = boxId(column, n);
            if (s.window.checkState(id) != want) s.core.onCommand(id, 0);
            if (s.window.checkState(id) != want) {
                *why = "channel box " + std::to_string(id) + " does not take its state";
                return kExitUsage;
            }
        }
    }
    runProcedure(s, IDC_CHANNELS_WRITE, kWriteChannels);
    return afterWrite(s, "the channels", why);
}

int fetchModem(Session& s, ModemReading* r, std::string* why) {
    runProcedure(s, IDC_MODEM_READ, kModemQuery);
    if (const int status = afterProcedure(s, why)) return status;
    r->status = textOf(s, s.core.queryStatusField);
    r->ip = textOf(s, s.core.ipAddressField);
    r->apn = textOf(s, s.core.apnField);
    r->user = textOf(s, s.core.userField);
    return kExitDone;
}


int sendModem(Session& s, const ModemEntries& c, std::string* why) {
    TextField* fields[4] = {&s.core.ipAddressField, &s.core.apnField, &s.core.userField,
                            &s.core.passwordField};
    if (c.noInternet) {
        s.core.onCommand(IDC_WITHOUT_INTERNET, 0);
    } else {
        for (int k = 0; k < 4; ++k)
            if (c.given[k]) s.window.typeInto(fields[k]->control(), c.entries[k].c_str());
        // The entries as the panel now holds them (given, or loaded from "_data.ini")
        // must fit the modem's command buffer and the settings file.
        static const char* const kNames[4] = {"IP address", "APN", "user", "password"};
        static const int kEntry[4] = {kEntryAddress9, kEntryApn, kEntryUser, kEntryPassword};
        std::size_t total = 0;
        for (int k = 0; k < 4; ++k) {
            const char* text = textOf(s, *fields[k]);
            const std::size_t n = std::strlen(text);
            const std::size_t limit = fieldTextLimit(kEntry[k]);
            char message[160];
            if (n > limit) {
                std::snprintf(message, sizeof message, "modem write: the %s is %zu bytes, at most %zu fit",
                              kNames[k], n, limit);
                *why = message;
                return kExitUsage;
            }
            if (hasLineBreak(text)) {
                std::snprintf(message, sizeof message, "modem write: the %s holds a line break", kNames[k]);
                *why = message;
                return kExitUsage;
            }
            total += n;
        }
        if (total > kPanelFileLimit - 3) {
            *why = "modem write: the four entries together hold more than 96 bytes";
            return kExitUsage;
        }
    }
    runProcedure(s, IDC_MODEM_WRITE, kModemSetup);
    if (const int status = afterProcedure(s, why)) return status;
    const char* status = textOf(s, s.core.setupStatusField);
    if (std::strcmp(status, "Ok!") == 0) return kExitDone;
    *why = status;
    if (std::strcmp(status, kNotSavedText) == 0) *why += std::string(": ") + kNotSavedMessage;
    return kExitNoAnswer;
}

}  // namespace ostrakan::cli
