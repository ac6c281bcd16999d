#include "tools/cli/unit_restore.h"

#include <algorithm>
#include <cstring>

#include "tools/cli/cli.h"
#include "tools/cli/files.h"
#include "tools/cli/operations.h"
#include "tools/cli/options.h"
#include "tools/cli/secrets.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

// A profile is a few kilobytes; anything past this is not one, and is refused
// before it is read whole.
constexpr std::size_t kProfileLimit = 1 << 20;

bool toDevice(std::optional<std::string>& text) {
    if (!text) return true;
    std::string bytes;
    if (!utf8ToCp1251(*text, &bytes)) return false;
    *text = bytes;
    return true;
}

std::string shown(const std::string& bytes) { return "\"" + cp1251ToUtf8(bytes) + "\""; }

// The item's path in the profile, as the written list names it.
const char* const kParameterPaths[kParameterCount] = {"controller.period", "controller.address", "controller.phone1",
                                                      "controller.phone2", "controller.sms"};

// Whether a restore of the plan writes the modem: its without-internet path, or
// entries from the profile or the password file.
bool writesModem(const Plan& plan) {
    const Profile& p = plan.profile;
    return p.internet == false || p.writesModemEntries() || plan.password.has_value();
}

// The writes and the verification; each step's name goes to `progress` and to
// r->step, each item sent to r->written.
int restoreSteps(Session& s, const Plan& plan, bool verify, Progress& progress, RestoreResult* r) {
    const auto step = [&](const char* what) {
        r->step = what;
        progress.step(what);
    };
    std::string* why = &r->why;
    std::vector<std::string>* differences = &r->differences;
    const Profile& p = plan.profile;
    const std::optional<std::string>* texts[kParameterCount] = {&p.period, &p.address, &p.phone1, &p.phone2, &p.sms};
    static const char* const kWrites[kParameterCount] = {"write period", "write address", "write phone1",
                                                         "write phone2", "write sms"};
    for (int i = 0; i < kParameterCount; ++i) {
        if (!*texts[i]) continue;
        step(kWrites[i]);
        if (const int status = sendParameter(s, i, **texts[i], why)) return status;
        r->written.push_back(kParameterPaths[i]);
    }
    if (p.channels) {
        step("write channels");
        int bits[kChannelCount];
        for (std::size_t n = 0; n < kChannelCount; ++n) bits[n] = channelByte((*p.channels)[n]);
        if (const int status = sendChannels(s, bits, why)) return status;
        r->written.push_back("controller.channels");
    }
    const bool withoutInternet = p.internet == false;
    std::string sent[3];  // ip, apn, user as the Write sent them (1251)
    if (writesModem(plan)) {
        step("write modem");
        ModemEntries m;
        m.noInternet = withoutInternet;
        const std::optional<std::string>* entries[4] = {&p.ip, &p.apn, &p.user, &p.password};
        for (int k = 0; k < 4 && !withoutInternet; ++k) {
            m.given[k] = entries[k]->has_value();
            if (m.given[k]) m.entries[k] = **entries[k];
        }
        if (plan.password && !withoutInternet) {
            m.given[3] = true;
            m.entries[3] = *plan.password;
        }
        // What goes out for an entry the plan does not give is what "_data.ini"
        // loaded into the panel: verified as well as the rest.
        const TextField* fields[3] = {&s.core.ipAddressField, &s.core.apnField, &s.core.userField};
        for (int k = 0; k < 3; ++k) sent[k] = m.given[k] ? m.entries[k] : textOf(s, *fields[k]);
        if (const int status = sendModem(s, m, why)) {
            // "NoSave": the modem holds the entries, only "_data.ini" was not replaced.
            if (std::strcmp(textOf(s, s.core.setupStatusField), kNotSavedText) == 0) r->written.push_back("modem");
            if (status == kExitNoAnswer) *why = "modem write: " + *why;
            return status;
        }
        r->written.push_back("modem");
    }
    if (!verify) return kExitDone;

    static const char* const kReads[kParameterCount] = {"verify period", "verify address", "verify phone1",
                                                        "verify phone2", "verify sms"};
    for (int i = 0; i < kParameterCount; ++i) {
        if (!*texts[i]) continue;
        step(kReads[i]);
        std::string text;
        if (const int status = fetchParameter(s, i, &text, why)) return status;
        if (text == **texts[i]) continue;
        const bool digits = i <= kAddressField;
        differences->push_back(std::string(kParameterNames[i]) + ": wrote " +
                               (digits ? **texts[i] : shown(**texts[i])) + ", reads " +
                               (digits ? cp1251ToUtf8(text) : shown(text)));
    }
    if (p.channels) {
        step("verify channels");
        Channels channels;
        if (const int status = fetchChannels(s, &channels, why)) return status;
        for (std::size_t n = 0; n < kChannelCount; ++n) {
            const ProfileChannel& want = (*p.channels)[n];
            const ProfileChannel& got = channels[n];
            const bool boxes[3][2] = {{want.a, got.a}, {want.t, got.t}, {want.bx, got.bx}};
            static const char* const kBox[3] = {"A", "T", "BX"};
            for (int b = 0; b < 3; ++b)
                if (boxes[b][0] != boxes[b][1])
                    differences->push_back("channel " + std::to_string(n + 1) + " " + kBox[b] + ": wrote " +
                                           (boxes[b][0] ? "on" : "off") + ", reads " + (boxes[b][1] ? "on" : "off"));
        }
    }
    if (writesModem(plan)) {
        step("verify modem");
        ModemReading m;
        if (const int status = fetchModem(s, &m, why)) return status;
        if (m.status == "Error!") {
            *why = "modem read: Error!";
            return kExitNoAnswer;
        }
        if (withoutInternet) {
            if (!holdsNoInternet(m)) differences->push_back("modem.internet: wrote false, reads an internet profile");
        } else if (m.status != "Ok!") {
            differences->push_back("modem: wrote an internet profile, reads " + m.status);
        } else {
            // The password cannot be read back: the modem does not give it out.
            static const char* const kNames[3] = {"modem.ip", "modem.apn", "modem.user"};
            const std::string* read[3] = {&m.ip, &m.apn, &m.user};
            for (int k = 0; k < 3; ++k)
                if (sent[k] != *read[k])
                    differences->push_back(std::string(kNames[k]) + ": wrote " + shown(sent[k]) + ", reads " +
                                           shown(*read[k]));
        }
    }
    return differences->empty() ? kExitDone : kExitDifferent;
}

}  // namespace

int loadPlan(const std::string& path, const std::string& passwordFile, Plan* plan, std::string* why) {
    std::string text;
    if (!readInputFile(path, kProfileLimit, &text, why)) return kExitUsage;
    std::string error;
    Profile& p = plan->profile;
    if (!parseProfile(text, &p, &error) ||
        !validateProfile(p, [](const std::string& u, std::string* b) { return utf8ToCp1251(u, b); }, &error)) {
        *why = path + ": " + error;
        return kExitUsage;
    }
    for (std::optional<std::string>* t : {&p.period, &p.address, &p.phone1, &p.phone2, &p.sms, &p.ip, &p.apn,
                                          &p.user, &p.password})
        if (!toDevice(*t)) {  // validateProfile has checked every text it sends
            *why = path + ": a text that code page 1251 cannot hold";
            return kExitUsage;
        }
    if (!passwordFile.empty()) {
        std::string typed, bytes;
        if (const int status = passwordFromFile(passwordFile, &typed, why)) return status;
        if (!argumentText("--password-file", typed, &bytes)) {
            why->clear();
            return kExitUsage;
        }
        plan->password = bytes;
    }
    if (writesModem(*plan) && p.internet != false) {
        const bool given[4] = {p.ip.has_value(), p.apn.has_value(), p.user.has_value(),
                               p.password.has_value() || plan->password.has_value()};
        if (checkModemSources(given, true, &error) != kExitDone) {
            *why = path + ": " + error;
            return kExitUsage;
        }
    }
    return kExitDone;
}

int readUnit(Session& s, Profile* p, Progress& progress, std::string* why) {
    static const char* const kSteps[kParameterCount] = {"read period", "read address", "read phone1",
                                                        "read phone2", "read sms"};
    std::optional<std::string>* texts[kParameterCount] = {&p->period, &p->address, &p->phone1, &p->phone2, &p->sms};
    for (int i = 0; i < kParameterCount; ++i) {
        progress.step(kSteps[i]);
        std::string text;
        if (const int status = fetchParameter(s, i, &text, why)) return status;
        *texts[i] = cp1251ToUtf8(text);
    }
    progress.step("read channels");
    Channels channels;
    if (const int status = fetchChannels(s, &channels, why)) return status;
    p->channels = channels;
    progress.step("read modem");
    ModemReading r;
    if (const int status = fetchModem(s, &r, why)) return status;
    if (r.status == "Empty0" || (r.status == "Ok!" && holdsNoInternet(r))) {
        p->internet = false;
    } else if (r.status == "Ok!") {
        p->ip = cp1251ToUtf8(r.ip);
        p->apn = cp1251ToUtf8(r.apn);
        p->user = cp1251ToUtf8(r.user);
    } else {
        *why = "modem read: " + r.status;
        return kExitNoAnswer;
    }
    return kExitDone;
}

bool sendsPassword(const Plan& plan) { return writesModem(plan) && plan.profile.internet != false; }

std::vector<std::string> plannedPaths(const Plan& plan) {
    const Profile& p = plan.profile;
    std::vector<std::string> paths;
    const std::optional<std::string>* texts[kParameterCount] = {&p.period, &p.address, &p.phone1, &p.phone2, &p.sms};
    for (int i = 0; i < kParameterCount; ++i)
        if (*texts[i]) paths.push_back(kParameterPaths[i]);
    if (p.channels) paths.push_back("controller.channels");
    if (writesModem(plan)) paths.push_back("modem");
    return paths;
}

RestoreResult restoreUnit(Session& s, const Plan& plan, bool verify, Progress& progress) {
    RestoreResult r;
    r.status = restoreSteps(s, plan, verify, progress, &r);
    // Only an open port can be lost; restoreSteps runs on one.
    r.lost = r.status == kExitPort;
    if (r.status == kExitDone || r.status == kExitDifferent) r.step = "done";
    for (const std::string& path : plannedPaths(plan))
        if (std::find(r.written.begin(), r.written.end(), path) == r.written.end()) r.unwritten.push_back(path);
    return r;
}

const char* unitStatus(const RestoreResult& r) {
    if (r.status >= 128) return "interrupted";
    switch (r.status) {
    case kExitDone: return "ok";
    case kExitDifferent: return "different";
    case kExitNoAnswer: return "no-answer";
    case kExitPort: return r.lost ? "lost" : "port-trouble";
    case kExitUsage: return "refused";
    default: return "no-answer";
    }
}

}  // namespace ostrakan::cli
