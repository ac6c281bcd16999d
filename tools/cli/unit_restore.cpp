#include "tools/cli/unit_restore.h"

#include <fstream>
#include <sstream>

#include "tools/cli/cli.h"
#include "tools/cli/operations.h"
#include "tools/cli/options.h"
#include "tools/cli/secrets.h"
#include "tools/cli/text_encoding.h"

namespace ostrakan::cli {

namespace {

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

// The writes (unless `write` is false: verify alone) and the verification; each
// step's name goes to `progress` and to r->step, each item sent to r->written.
int restoreSteps(Session& s, const Plan& plan, bool write, bool verify, Progress& progress, RestoreResult* r) {
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
        if (!*texts[i] || !write) continue;
        step(kWrites[i]);
        if (const int status = sendParameter(s, i, **texts[i], why)) return status;
        r->written.push_back(kParameterPaths[i]);
    }
    if (write && p.channels) {
        step("write channels");
        int bits[kChannelCount];
        for (std::size_t n = 0; n < kChannelCount; ++n) bits[n] = channelByte((*p.channels)[n]);
        if (const int status = sendChannels(s, bits, why)) return status;
        r->written.push_back("controller.channels");
    }
    const bool withoutInternet = p.internet == false;
    const bool modemEntries = p.writesModemEntries() || (plan.password && !withoutInternet);
    if (write && (withoutInternet || modemEntries)) {
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
        if (const int status = sendModem(s, m, why)) {
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
        r->differing.push_back({kParameterPaths[i], cp1251ToUtf8(**texts[i]), cp1251ToUtf8(text)});
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
                if (boxes[b][0] != boxes[b][1]) {
                    differences->push_back("channel " + std::to_string(n + 1) + " " + kBox[b] + ": wrote " +
                                           (boxes[b][0] ? "on" : "off") + ", reads " + (boxes[b][1] ? "on" : "off"));
                    r->differing.push_back({"controller.channels[" + std::to_string(n) + "]." + kBox[b],
                                            boxes[b][0] ? "true" : "false", boxes[b][1] ? "true" : "false"});
                }
        }
    }
    if (withoutInternet || modemEntries) {
        step("verify modem");
        ModemReading m;
        if (const int status = fetchModem(s, &m, why)) return status;
        if (m.status == "Error!") {
            *why = "modem read: Error!";
            return kExitNoAnswer;
        }
        const bool empty = m.status == "Empty0" || m.status == "Empty9";
        if (withoutInternet) {
            if (!empty) {
                differences->push_back("modem.internet: wrote false, reads an internet profile");
                r->differing.push_back({"modem.internet", "false", "true"});
            }
        } else if (empty) {
            differences->push_back("modem: wrote an internet profile, reads " + m.status);
            r->differing.push_back({"modem.internet", "true", "false"});
        } else {
            // The password cannot be read back: the modem does not give it out.
            const std::pair<const char*, std::pair<const std::optional<std::string>*, const std::string*>> entries[] = {
                {"modem.ip", {&p.ip, &m.ip}}, {"modem.apn", {&p.apn, &m.apn}}, {"modem.user", {&p.user, &m.user}}};
            for (const auto& [name, pair] : entries)
                if (*pair.first && **pair.first != *pair.second) {
                    differences->push_back(std::string(name) + ": wrote " + shown(**pair.first) + ", reads " +
                                           shown(*pair.second));
                    r->differing.push_back({name, cp1251ToUtf8(**pair.first), cp1251ToUtf8(*pair.second)});
                }
        }
    }
    return differences->empty() ? kExitDone : kExitDifferent;
}

}  // namespace

int loadPlan(const std::string& path, const std::string& passwordFile, Plan* plan, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path;
        return kExitUsage;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    Profile& p = plan->profile;
    if (!parseProfile(text.str(), &p, &error) ||
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
    if (r.status == "Empty0") {
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

RestoreResult restoreUnit(Session& s, const Plan& plan, bool verify, Progress& progress) {
    RestoreResult r;
    r.status = restoreSteps(s, plan, true, verify, progress, &r);
    return r;
}

RestoreResult verifyUnit(Session& s, const Plan& plan, Progress& progress) {
    RestoreResult r;
    r.status = restoreSteps(s, plan, false, true, progress, &r);
    return r;
}

std::string describe(const Difference& d) { return d.path + ": profile " + d.profile + ", unit " + d.unit; }

}  // namespace ostrakan::cli
