#include "tools/cli/cli.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/core.h"
#include "app/headless_window.h"
#include "controller/frames.h"
#include "modem/commands.h"
#include "resources/resource.h"
#include "serial/port_name.h"
#include "serial/trace.h"
#include "tools/json/json_writer.h"
#include "tools/profile/profile.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"
#include "version.h"

namespace ostrakan::cli {

namespace {

// The signal that asked us to stop (SIGINT, SIGTERM), 0 while none has. Set by
// the handler; read by the host loop after each pass, so a procedure in progress
// ends its wait and the port is closed on the way out.
std::atomic<int> gInterrupted{0};

// --json: reads print one JSON document instead of their text. Set once while
// the command line is parsed, before any command runs.
bool gJson = false;

int refuse(const std::string& what) {
    printErr("ostrakan-cli: %s\n", what.c_str());
    return kExitUsage;
}

// A text from the device (1251 bytes) on stdout, in the terminal's encoding.
void printLine(const std::string& bytes) { printOut("%s\n", fromCp1251(bytes).c_str()); }

void printJson(const JsonWriter& json) { printOut("%s\n", json.text().c_str()); }

const char* const kParameterNames[kParameterCount] = {"period", "address", "phone1", "phone2", "sms"};

int parameterIndex(const std::string& name) {
    for (int i = 0; i < kParameterCount; ++i)
        if (name == kParameterNames[i]) return i;
    return -1;
}

// ---- the parsed command ----------------------------------------------------

// What a modem Write sends: the given entries (1251) over those loaded from
// "_data.ini", or the without-internet path.
struct ModemEntries {
    std::string entries[4];  // ip, apn, user, password
    bool given[4] = {};
    bool noInternet = false;
};

enum class Verb { ReadParameter, WriteParameter, ReadChannels, WriteChannels, ModemRead, ModemWrite, Ports,
                  Dump, Restore, Provision };

struct Command {
    Verb verb = Verb::Ports;
    int parameter = -1;
    std::string value;                    // 1251 bytes
    int channelBits[kChannelCount] = {};  // wanted bits for write channels
    ModemEntries modem;
};

// An argument the user typed, in the device's code page. False (after saying
// why) for a character 1251 cannot hold.
bool argumentText(const std::string& what, const std::string& typed, std::string* bytes) {
    std::string offending;
    if (toCp1251(typed, bytes, &offending)) return true;
    refuse(what + ": \"" + offending + "\" is not a character of code page 1251, which the device uses");
    return false;
}

int parseChannels(const std::vector<std::string>& words, Command* c) {
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
        c->channelBits[n - 1] |= bit;
    }
    return kExitDone;
}

int parseParameterWrite(const std::string& name, const std::vector<std::string>& values, Command* c) {
    c->parameter = parameterIndex(name);
    if (values.size() != 1) return refuse("write " + name + ": give exactly one value");
    c->verb = Verb::WriteParameter;
    if (!argumentText("write " + name, values[0], &c->value)) return kExitUsage;
    const auto* text = reinterpret_cast<const std::uint8_t*>(c->value.data());
    if (c->parameter <= kAddressField && !isValueText(text, c->value.size()))
        return refuse("write: the value must be exactly three digits 0..9, e.g. 007");
    if (c->parameter >= kPhone1Field && c->value.size() > kMaxPhoneDigits)
        return refuse("write: a telephone number holds at most 18 characters");
    return kExitDone;
}

// ---- secrets -------------------------------------------------------------------

// The first line of a file, without its line end.
bool firstLineOf(const std::string& path, std::string* line) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::getline(in, *line);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// ---- ports -------------------------------------------------------------------

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

int listPorts() {
    const std::vector<PortInfo> ports = ostrakan::listPorts();
    if (gJson) {
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

// ---- the session: core, line, loop ---------------------------------------------

// One per port, made before anything runs (and before any provisioning worker
// starts): the controls, the buffers and the line are fixed storage, so nothing
// in the loop allocates. The loop is made when the port opens, on the thread
// that then runs it.
struct Session {
    HeadlessWindow window;
    LinkBuffers link;
    PortLine line{link};
    Core core{window, line, link};
    std::optional<HostLoop> loop;
};

struct Waiting {
    Core* core;
    Request request;
    const ControllerProcedure* procedure;  // nullptr for the modem
    bool finished = false;
    bool timedOut = false;
    unsigned long guard = 0;
    const HostLoop* loop = nullptr;
    bool lost = false;  // the device went away: the core has closed the port
};

bool requestDone(void* context) {
    Waiting& w = *static_cast<Waiting*>(context);
    if (w.procedure && !w.finished && w.procedure->step() == kFinish) {
        // The tick that moved the procedure to its finish ran with the counter one
        // below the current value: it ended by time-out if its deadline had passed.
        w.finished = true;
        w.timedOut = deadlinePassed(w.procedure->deadline(), w.core->tickCounter - 1);
    }
    // Nothing will answer a lost device: stop at once rather than at the deadline.
    if (w.loop && w.loop->losses() > 0) w.lost = true;
    // Every procedure ends by its deadlines; the guard only protects against a
    // loop that does not tick at all.
    return w.lost || !w.core->requests.isSet(w.request) || gInterrupted.load() != 0 || ++w.guard > 200000;
}

// Clicks the button and ticks until the procedure has lowered its request flag.
Waiting runProcedure(Session& s, int buttonId, Request request) {
    Waiting w{&s.core, request, nullptr};
    w.loop = &*s.loop;
    for (const ControllerProcedure& p : s.core.controllerProcedures)
        if (p.info().request == request) w.procedure = &p;
    s.core.onCommand(buttonId, 0);
    s.loop->runUntil(requestDone, &w);
    return w;
}

const char* textOf(Session& s, const TextField& field) { return s.window.textOf(field.control()); }

// 128 + the signal, as a shell reports a program the signal ended: 130 for Ctrl-C.
int interruptedStatus() { return 128 + gInterrupted.load(); }

// After each procedure: Ctrl-C, or the device gone from under the open port (the
// back end reports it, and the core closes the port on it).
int afterProcedure(Session& s, std::string* why) {
    if (gInterrupted.load() != 0) {
        *why = "interrupted";
        return interruptedStatus();
    }
    if (s.line.lost() || !s.line.isOpen()) {
        const char* device = s.line.lastDevice();
        *why = s.core.openedPortName[0] != 0
                   ? std::string(s.core.openedPortName) + " (" + device + ")"
                   : std::string(device);
        *why += " is lost: check the cable or the USB adapter";
        return kExitPort;
    }
    return kExitDone;
}

// A write is "sent" only when the driver took every byte of it.
int afterWrite(Session& s, const char* what, std::string* why) {
    if (const int status = afterProcedure(s, why)) return status;
    if (s.line.lastHandOffWritten()) return kExitDone;
    *why = std::string(what) + " was not sent: the port did not take the bytes";
    return kExitNoAnswer;
}

const char* const kNoAnswer = "the controller did not answer in time";
const char* const kNotSavedMessage = "the modem took the entries, but _data.ini could not be written";

// ---- the operations: one procedure each, nothing printed -------------------------
// Each returns an exit status and, when that is not kExitDone, says why.

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

int boxId(int column, int n) {
    return column == 0 ? channelAId(n) : column == 1 ? channelTId(n) : channelBxId(n);
}

using Channels = std::array<ProfileChannel, kChannelCount>;

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

// The modem query's result: its status text and, on "Ok!", the entries (1251).
struct ModemReading {
    std::string status;
    std::string ip, apn, user;
};

// kExitDone whenever the query ran to its end, whatever its status text.
int fetchModem(Session& s, ModemReading* r, std::string* why) {
    runProcedure(s, IDC_MODEM_READ, kModemQuery);
    if (const int status = afterProcedure(s, why)) return status;
    r->status = textOf(s, s.core.queryStatusField);
    r->ip = textOf(s, s.core.ipAddressField);
    r->apn = textOf(s, s.core.apnField);
    r->user = textOf(s, s.core.userField);
    return kExitDone;
}

bool hasLineBreak(const char* text) { return std::strpbrk(text, "\r\n\x1A") != nullptr; }

// The Write's failures name its status text alone ("Error!"), as the window shows it.
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

// ---- the single commands -------------------------------------------------------

// A failed operation's message on stderr; modem status texts stand alone.
int report(int status, const std::string& why, bool bare = false) {
    if (status >= 128) printErr("ostrakan-cli: interrupted\n");
    else if (bare && status == kExitNoAnswer) printErr("%s\n", why.c_str());
    else printErr("ostrakan-cli: %s\n", why.c_str());
    return status;
}

int readParameter(Session& s, int index) {
    std::string text, why;
    if (const int status = fetchParameter(s, index, &text, &why)) return report(status, why);
    if (gJson) printJson(JsonWriter().beginObject().key(kParameterNames[index]).value(cp1251ToUtf8(text)).endObject());
    else printLine(text);
    return kExitDone;
}

int writeParameter(Session& s, int index, const std::string& value) {
    std::string why;
    if (const int status = sendParameter(s, index, value, &why)) return report(status, why);
    printErr("ostrakan-cli: %s %s sent\n", kParameterNames[index], fromCp1251(value).c_str());
    return kExitDone;
}

int readChannels(Session& s) {
    Channels channels;
    std::string why;
    if (const int status = fetchChannels(s, &channels, &why)) return report(status, why);
    if (gJson) {
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

int writeChannels(Session& s, const int* bits) {
    std::string why;
    if (const int status = sendChannels(s, bits, &why)) return report(status, why);
    printErr("ostrakan-cli: channels sent\n");
    return kExitDone;
}

int modemRead(Session& s) {
    ModemReading r;
    std::string why;
    if (const int status = fetchModem(s, &r, &why)) return report(status, why);
    if (r.status != "Ok!") return report(kExitNoAnswer, r.status, true);
    if (gJson) {
        printJson(JsonWriter()
                      .beginObject()
                      .key("ip").value(cp1251ToUtf8(r.ip))
                      .key("apn").value(cp1251ToUtf8(r.apn))
                      .key("user").value(cp1251ToUtf8(r.user))
                      .endObject());
        return kExitDone;
    }
    printOut("IP Address: %s\nAPN: %s\nUser: %s\n", fromCp1251(r.ip).c_str(), fromCp1251(r.apn).c_str(),
                fromCp1251(r.user).c_str());
    return kExitDone;
}

int modemWrite(Session& s, const ModemEntries& c) {
    std::string why;
    if (const int status = sendModem(s, c, &why)) return status == kExitUsage ? refuse(why) : report(status, why, true);
    if (gJson) printJson(JsonWriter().beginObject().key("status").value("Ok!").endObject());
    else printOut("Ok!\n");
    return kExitDone;
}

// ---- whole units: dump, restore ------------------------------------------------

// Where a unit's work has got to. Called on the thread that runs the unit.
class Progress {
public:
    virtual void step(const char* what) = 0;

protected:
    ~Progress() = default;
};

// Reads the whole unit into a profile (texts UTF-8). A modem without an internet
// profile ("Empty0") is "internet": false.
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

// A profile checked and turned into what the unit is sent: every text in 1251.
// Built once, before any port is touched.
struct Plan {
    Profile profile;                 // the texts in 1251
    std::optional<std::string> password;  // --password-file, over the profile's (1251)
};

bool toDevice(std::optional<std::string>& text) {
    if (!text) return true;
    std::string bytes;
    if (!utf8ToCp1251(*text, &bytes)) return false;
    *text = bytes;
    return true;
}

// Parses, validates and converts a profile file; on failure a message naming
// the item (kExitUsage).
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
        if (!firstLineOf(passwordFile, &typed)) {
            *why = "cannot read " + passwordFile;
            return kExitUsage;
        }
        if (!argumentText("--password-file", typed, &bytes)) return kExitUsage;
        plan->password = bytes;
    }
    return kExitDone;
}

std::string shown(const std::string& bytes) { return "\"" + cp1251ToUtf8(bytes) + "\""; }

// Writes what the plan holds, then (with verify) reads it back; each item that
// reads otherwise is named in *differences.
int restoreUnit(Session& s, const Plan& plan, bool verify, Progress& progress, std::vector<std::string>* differences,
                std::string* why) {
    const Profile& p = plan.profile;
    const std::optional<std::string>* texts[kParameterCount] = {&p.period, &p.address, &p.phone1, &p.phone2, &p.sms};
    static const char* const kWrites[kParameterCount] = {"write period", "write address", "write phone1",
                                                         "write phone2", "write sms"};
    for (int i = 0; i < kParameterCount; ++i) {
        if (!*texts[i]) continue;
        progress.step(kWrites[i]);
        if (const int status = sendParameter(s, i, **texts[i], why)) return status;
    }
    if (p.channels) {
        progress.step("write channels");
        int bits[kChannelCount];
        for (std::size_t n = 0; n < kChannelCount; ++n) bits[n] = channelByte((*p.channels)[n]);
        if (const int status = sendChannels(s, bits, why)) return status;
    }
    const bool withoutInternet = p.internet == false;
    const bool modemEntries = p.writesModemEntries() || (plan.password && !withoutInternet);
    if (withoutInternet || modemEntries) {
        progress.step("write modem");
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
    }
    if (!verify) return kExitDone;

    static const char* const kReads[kParameterCount] = {"verify period", "verify address", "verify phone1",
                                                        "verify phone2", "verify sms"};
    for (int i = 0; i < kParameterCount; ++i) {
        if (!*texts[i]) continue;
        progress.step(kReads[i]);
        std::string text;
        if (const int status = fetchParameter(s, i, &text, why)) return status;
        if (text == **texts[i]) continue;
        const bool digits = i <= kAddressField;
        differences->push_back(std::string(kParameterNames[i]) + ": wrote " +
                               (digits ? **texts[i] : shown(**texts[i])) + ", reads " +
                               (digits ? cp1251ToUtf8(text) : shown(text)));
    }
    if (p.channels) {
        progress.step("verify channels");
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
    if (withoutInternet || modemEntries) {
        progress.step("verify modem");
        ModemReading r;
        if (const int status = fetchModem(s, &r, why)) return status;
        if (r.status == "Error!") {
            *why = "modem read: Error!";
            return kExitNoAnswer;
        }
        const bool empty = r.status == "Empty0" || r.status == "Empty9";
        if (withoutInternet) {
            if (!empty) differences->push_back("modem.internet: wrote false, reads an internet profile");
        } else if (empty) {
            differences->push_back("modem: wrote an internet profile, reads " + r.status);
        } else {
            // The password cannot be read back: the modem does not give it out.
            const std::pair<const char*, std::pair<const std::optional<std::string>*, const std::string*>> entries[] = {
                {"modem.ip", {&p.ip, &r.ip}}, {"modem.apn", {&p.apn, &r.apn}}, {"modem.user", {&p.user, &r.user}}};
            for (const auto& [name, pair] : entries)
                if (*pair.first && **pair.first != *pair.second)
                    differences->push_back(std::string(name) + ": wrote " + shown(**pair.first) + ", reads " +
                                           shown(*pair.second));
        }
    }
    return differences->empty() ? kExitDone : kExitDifferent;
}

// restore and dump on stderr: a line per step, or one line rewritten in place on
// a terminal.
class StderrProgress : public Progress {
public:
    explicit StderrProgress(const char* command) : command_(command), terminal_(stderrIsTerminal()) {}
    void step(const char* what) override {
        if (terminal_) printErr("\r\033[Kostrakan-cli: %s: %s", command_, what);
        else printErr("ostrakan-cli: %s: %s\n", command_, what);
        shown_ = true;
    }
    // Ends the updating line before the result is printed.
    void done() {
        if (terminal_ && shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    const char* command_;
    bool terminal_;
    bool shown_ = false;
};

// Replaces the file's content; false when any of it did not reach the file.
bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

int dumpUnit(Session& s, const std::string& outFile) {
    StderrProgress progress("dump");
    Profile p;
    std::string why;
    const int status = readUnit(s, &p, progress, &why);
    progress.done();
    if (status != kExitDone) return report(status, why);
    const std::string text = writeProfile(p);
    if (outFile.empty() || outFile == "-") {
        std::fputs(text.c_str(), stdout);
        return kExitDone;
    }
    if (!writeFile(outFile, text)) {
        printErr("ostrakan-cli: cannot write %s\n", outFile.c_str());
        return kExitNoAnswer;
    }
    return kExitDone;
}

int restoreCommand(Session& s, const Plan& plan, bool verify) {
    StderrProgress progress("restore");
    std::vector<std::string> differences;
    std::string why;
    const int status = restoreUnit(s, plan, verify, progress, &differences, &why);
    progress.done();
    if (status == kExitDifferent) {
        for (const std::string& d : differences) printErr("%s\n", d.c_str());
        printErr("ostrakan-cli: the unit does not hold the profile (%zu difference%s)\n",
                     differences.size(), differences.size() == 1 ? "" : "s");
        return status;
    }
    if (status != kExitDone) return report(status, why);
    printErr("ostrakan-cli: restore: %s\n", verify ? "done, the unit holds the profile" : "done (not verified)");
    return kExitDone;
}

// Opens a device path as it is, a COM name as the window's Open command does.
int openDevice(Session& s, const std::string& device, std::string* why) {
    if (opensAsDevice(device)) {
        if (s.line.open(device.c_str()) != kPortOpened) {
            *why = "the port did not open: " + openFailure(s.line);
            return kExitPort;
        }
    } else {
        // A COM name goes through the window's open command, with its name check.
        s.window.typeInto(s.core.portNameField.control(), device.c_str());
        s.core.onCommand(IDM_OPEN_PORT, 0);
        const char* status = textOf(s, s.core.statusField);
        if (std::strcmp(status, "Name is wrong.") == 0) {
            *why = std::string(status) + " (a port is COM1..COM256, a device path or sim)";
            return kExitUsage;
        }
        if (!s.line.isOpen()) {
            *why = std::string(status) + " " + device + ": " + openFailure(s.line);
            return kExitPort;
        }
    }
    return kExitDone;
}

// Opens `port` for the session: "sim" (the in-process simulator, started here),
// a device path, or a COM name through the window's open command. The session's
// loop is made first, on this thread (on Windows the line reports to the loop's
// window from the moment it opens), and kept only when the port opened.
int openSession(Session& s, const std::string& port, std::unique_ptr<BuiltInSimulator>* sim, std::string* why) {
    std::string device = portName(port);
    if (port == "sim") {
        *sim = makeBuiltInSimulator();
        int status = kExitPort;
        device = (*sim)->start(why, &status);
        if (device.empty()) return status;
    }
    s.loop.emplace(s.core, s.line);
    const int status = openDevice(s, device, why);
    if (status != kExitDone) s.loop.reset();
    return status;
}

// ---- provision: one worker per port ---------------------------------------------

// One port's unit. The worker thread owns the session from its start to its end;
// the main thread reads `step` and `finished` while it runs (to draw the table)
// and the results only after joining it.
struct Unit : Progress {
    std::string port;
    Session session;
    std::unique_ptr<BuiltInSimulator> sim;
    std::thread worker;
    std::atomic<const char*> stepName{"waiting"};  // worker writes, main thread reads
    std::atomic<bool> finished{false};             // set by the worker last
    // Written by the worker before `finished`; read after the join.
    int status = kExitDone;
    double seconds = 0;
    std::string error;
    std::vector<std::string> differences;

    // Wakes the main thread when this unit finishes, so that the last unit's end
    // ends the command at once rather than at the table's next redraw.
    std::mutex* doneMutex = nullptr;
    std::condition_variable* doneSignal = nullptr;

    void step(const char* what) override { stepName.store(what); }

    void work(const Plan& plan) {
        const auto start = std::chrono::steady_clock::now();
        stepName.store("open");
        status = openSession(session, port, &sim, &error);
        if (status == kExitDone) status = restoreUnit(session, plan, true, *this, &differences, &error);
        session.core.closePort();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status == kExitDifferent) error = "the unit does not hold the profile";
        stepName.store("");
        {
            const std::lock_guard<std::mutex> lock(*doneMutex);
            finished.store(true);
        }
        doneSignal->notify_all();
    }

    const char* state() const {
        if (!finished.load()) return "running";
        switch (status) {
        case kExitDone: return "ok";
        case kExitDifferent: return "different";
        case kExitNoAnswer: return "failed";
        case kExitPort: return "port trouble";
        default: return status >= 128 ? "interrupted" : "failed";
        }
    }
};

// The live table: one line per port. On a terminal it is redrawn in place (the
// cursor moved up over it); otherwise a port's line is printed when it changes.
class Table {
public:
    Table(std::vector<std::unique_ptr<Unit>>& units)
        : units_(units), terminal_(stderrIsTerminal()), last_(units.size()) {
        for (const auto& u : units_) width_ = std::max(width_, u->port.size());
    }

    // Draws what changed since the last call (on a terminal: the whole table).
    void draw() {
        std::vector<std::string> lines;
        for (const auto& u : units_) {
            std::string line = u->port + std::string(width_ - u->port.size() + 2, ' ');
            if (u->finished.load()) line += std::string(u->state()) + (u->error.empty() ? "" : ": " + u->error);
            else line += std::string(u->stepName.load()) + " ...";
            lines.push_back(line);
        }
        if (lines == last_) return;
        if (terminal_ && drawn_) printErr("\033[%zuA", units_.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (terminal_) printErr("\r\033[K%s\n", lines[i].c_str());
            else if (lines[i] != last_[i]) printErr("%s\n", lines[i].c_str());
        }
        last_ = lines;
        drawn_ = true;
    }

private:
    std::vector<std::unique_ptr<Unit>>& units_;
    bool terminal_;
    std::vector<std::string> last_;
    std::size_t width_ = 0;
    bool drawn_ = false;
};

std::vector<std::string> splitPorts(const std::string& list) {
    std::vector<std::string> ports;
    std::string item;
    std::istringstream in(list);
    while (std::getline(in, item, ','))
        if (!item.empty()) ports.push_back(item);
    return ports;
}

bool writeReport(const std::string& path, const std::vector<std::unique_ptr<Unit>>& units) {
    using Layout = JsonWriter::Layout;
    JsonWriter json;
    json.beginObject(Layout::Lines).key("units").beginArray(Layout::Lines);
    for (const auto& u : units) {
        json.beginObject().key("port").value(u->port).key("ok").value(u->status == kExitDone);
        json.key("seconds").fixed(u->seconds, 2).key("error");
        if (u->status == kExitDone) json.null();
        else json.value(u->error);
        json.key("differences").beginArray();
        for (const std::string& d : u->differences) json.value(d);
        json.endArray().endObject();
    }
    json.endArray().endObject();
    return writeFile(path, json.text() + "\n");
}

int provision(const Plan& plan, const std::vector<std::string>& ports, const std::string& reportPath, bool trace) {
    // Every session is made, and loads "_data.ini", before the first worker starts.
    std::vector<std::unique_ptr<Unit>> units;
    for (const std::string& port : ports) {
        units.push_back(std::make_unique<Unit>());
        units.back()->port = port;
        units.back()->session.core.startUp();
        if (trace) units.back()->session.line.setTrace(kStandardError);
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    for (auto& u : units) {
        u->doneMutex = &doneMutex;
        u->doneSignal = &doneSignal;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto& u : units) u->worker = std::thread([&plan, unit = u.get()] { unit->work(plan); });
    Table table(units);
    const auto allFinished = [&units] {
        for (const auto& u : units)
            if (!u->finished.load()) return false;
        return true;
    };
    // Redraws the table every 100 ms, and at once when the last unit ends.
    table.draw();
    for (bool all = false; !all;) {
        std::unique_lock<std::mutex> lock(doneMutex);
        all = doneSignal.wait_for(lock, std::chrono::milliseconds(100), allFinished);
        lock.unlock();
        table.draw();
    }
    for (auto& u : units) u->worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::size_t done = 0;
    for (const auto& u : units) {
        if (u->status == kExitDone) {
            ++done;
            continue;
        }
        printErr("%s: %s\n", u->port.c_str(), u->error.c_str());
        for (const std::string& d : u->differences) printErr("%s: %s\n", u->port.c_str(), d.c_str());
    }
    printErr("ostrakan-cli: provision: %zu of %zu units hold the profile (%.1f s)\n", done, units.size(),
                 seconds);
    if (!reportPath.empty() && !writeReport(reportPath, units))
        printErr("ostrakan-cli: cannot write %s\n", reportPath.c_str());
    if (gInterrupted.load() != 0) {
        printErr("ostrakan-cli: interrupted\n");
        return interruptedStatus();
    }
    return done == units.size() ? kExitDone : kExitNoAnswer;
}

// Builds the command line: global options (anywhere on the line, also after the
// command, through fallthrough), one subcommand per command.
struct Parsed {
    std::string port = "COM1";
    bool trace = false;
    std::string traceFile;              // --trace-file: a session trace appended here
    std::string what;                   // read/write: period, ..., channels
    std::vector<std::string> values;    // write: the value or the channel boxes
    std::string entries[4];             // modem write, as typed
    std::string passwordFile;
    bool noInternet = false;
    std::string profileFile;            // restore, provision
    std::string outFile;                // dump -o
    bool noVerify = false;
    std::string ports;                  // provision --ports
    std::string reportFile;             // provision --report
};

}  // namespace

int run(int argc, char** argv) {
    useTerminalEncoding();
    Parsed p;
    CLI::App app("Reads and writes the controller's parameters, its channels and the modem's\n"
                 "internet profile over one serial port, as the window program does.",
                 "ostrakan-cli");
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", "ostrakan-cli " OSTRAKAN_VERSION);
    app.add_option("-p,--port", p.port,
                   "a COM name (COM1..COM256), a device path, or \"sim\" for the built-in simulated device")
        ->envname("OSTRAKAN_PORT")
        ->capture_default_str();
    CLI::Option* trace = app.add_flag("--trace", p.trace, "every hand-off (TX) and every burst (RX) on stderr");
    app.add_option("--trace-file", p.traceFile,
                   "append a session trace (timed hand-offs and bursts, replayable by ostrakan-sim --replay) "
                   "to FILE; it holds what was sent, the modem password too")
        ->type_name("FILE")
        ->excludes(trace);
    app.add_flag("--json", gJson, "reads, \"modem read\" and \"ports\" print one JSON document");
    app.footer("Exit status: 0 done, 1 no answer in time, modem Error!/Empty0/Empty9/NoSave, or a\n"
               "provisioned unit failed, 2 bad usage or refused input (a bad profile), 3 port not opened\n"
               "or lost, 4 restore: the unit reads back otherwise, 130 interrupted (Ctrl-C).");

    CLI::App* readCommand = app.add_subcommand("read", "read a parameter or the channels");
    readCommand->add_option("what", p.what, "period, address, phone1, phone2, sms or channels (31 lines \"N A T BX\")")
        ->required()
        ->check(CLI::IsMember({"period", "address", "phone1", "phone2", "sms", "channels"}));
    CLI::App* writeCommand = app.add_subcommand("write", "write a parameter or the channels");
    writeCommand->add_option("what", p.what, "period, address (DDD), phone1, phone2, sms (NUMBER) or channels")
        ->required()
        ->check(CLI::IsMember({"period", "address", "phone1", "phone2", "sms", "channels"}));
    writeCommand->add_option("value", p.values, "the value; for channels the boxes to set, N:A, N:T or N:BX");
    CLI::App* modemCommand = app.add_subcommand("modem", "read or write the modem's internet profile");
    modemCommand->require_subcommand(1);
    CLI::App* modemReadCommand = modemCommand->add_subcommand("read", "print the modem's IP address, APN and user");
    CLI::App* modemWriteCommand =
        modemCommand->add_subcommand("write", "write the entries given over those loaded from \"_data.ini\"");
    modemWriteCommand->add_option("--ip", p.entries[0], "the IP address");
    modemWriteCommand->add_option("--apn", p.entries[1], "the APN");
    modemWriteCommand->add_option("--user", p.entries[2], "the user");
    CLI::Option* password = modemWriteCommand->add_option(
        "--password", p.entries[3], "the password; \"-\" asks for it without echo (other users can see a "
                                    "password given here, in ps and in the shell's history)");
    modemWriteCommand->add_option("--password-file", p.passwordFile, "the password: the first line of FILE")
        ->excludes(password);
    CLI::Option* noInternet = modemWriteCommand->add_flag("--no-internet", p.noInternet, "click \"Без интернета.\": erase the internet profiles");
    CLI::App* portsCommand = app.add_subcommand("ports", "list the serial ports present");
    CLI::App* dumpCommand = app.add_subcommand("dump", "read the whole unit and print it as a profile (JSON)");
    dumpCommand->add_option("-o,--output", p.outFile, "write the profile to FILE instead of stdout");
    CLI::App* restoreCommandLine =
        app.add_subcommand("restore", "write a profile to the unit, then read it back and compare");
    restoreCommandLine->add_option("file", p.profileFile, "the profile (JSON, as dump writes it)")->required();
    restoreCommandLine->add_flag("--no-verify", p.noVerify, "write only; do not read back");
    restoreCommandLine->add_option("--password-file", p.passwordFile,
                                   "the modem password: the first line of FILE, over the profile's");
    CLI::App* provisionCommand =
        app.add_subcommand("provision", "restore and verify a profile on several ports at once");
    provisionCommand->add_option("file", p.profileFile, "the profile (JSON)")->required();
    provisionCommand->add_option("--ports", p.ports, "the ports, comma-separated: P1,P2,...")->required();
    provisionCommand->add_option("--report", p.reportFile, "write a JSON report of every unit to FILE");
    provisionCommand->add_option("--password-file", p.passwordFile,
                                 "the modem password: the first line of FILE, over the profile's");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        printOut("%s", app.help().c_str());
        return kExitDone;
    } catch (const CLI::CallForVersion& e) {
        printOut("%s\n", e.what());
        return kExitDone;
    } catch (const CLI::ParseError& e) {
        // A word that is no command reads better named than as "a subcommand is required".
        const std::vector<std::string> extra = app.remaining();
        if (app.get_subcommands().empty() && !extra.empty())
            printErr("ostrakan-cli: unknown command \"%s\"\nRun with --help for more information.\n",
                     extra.front().c_str());
        else
            printErr("ostrakan-cli: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    }

    // Ctrl-C from here on ends the command through its own exit path.
    catchInterrupts(&gInterrupted);

    Command command;
    Plan plan;
    if (readCommand->parsed()) {
        command.parameter = parameterIndex(p.what);
        command.verb = command.parameter < 0 ? Verb::ReadChannels : Verb::ReadParameter;
    } else if (writeCommand->parsed()) {
        command.verb = Verb::WriteChannels;
        const int status = p.what == "channels" ? parseChannels(p.values, &command)
                                                : parseParameterWrite(p.what, p.values, &command);
        if (status != kExitDone) return status;
    } else if (modemReadCommand->parsed()) {
        command.verb = Verb::ModemRead;
    } else if (modemWriteCommand->parsed()) {
        command.verb = Verb::ModemWrite;
        ModemEntries& m = command.modem;
        m.noInternet = p.noInternet;
        static const char* const kFlags[4] = {"--ip", "--apn", "--user", "--password"};
        for (int k = 0; k < 4; ++k) m.given[k] = modemWriteCommand->count(kFlags[k]) > 0;
        if (!p.passwordFile.empty()) {
            if (!firstLineOf(p.passwordFile, &p.entries[3])) return refuse("cannot read " + p.passwordFile);
            m.given[3] = true;
        } else if (m.given[3] && p.entries[3] == "-") {
            p.entries[3].clear();
            if (!readPassword(&p.entries[3], gInterrupted)) {
                if (gInterrupted.load() != 0) return report(interruptedStatus(), "");
                return refuse("modem write: no password read");
            }
        }
        for (int k = 0; k < 4; ++k)
            if (m.given[k] && !argumentText(std::string("modem write ") + kFlags[k], p.entries[k], &m.entries[k]))
                return kExitUsage;
        if (noInternet->count() > 0)
            for (bool given : m.given)
                if (given) return refuse("modem write: --no-internet erases the internet profiles; it takes no entries");
    } else if (portsCommand->parsed()) {
        return listPorts();
    } else if (dumpCommand->parsed()) {
        command.verb = Verb::Dump;
    } else {
        command.verb = restoreCommandLine->parsed() ? Verb::Restore : Verb::Provision;
        std::string why;
        if (const int status = loadPlan(p.profileFile, p.passwordFile, &plan, &why)) return why.empty() ? status : refuse(why);
    }

    // "_data.ini" holds the modem password: what this program creates is for its
    // owner only (a file replaced keeps its mode).
    restrictNewFiles();

    if (command.verb == Verb::Provision) {
        const std::vector<std::string> ports = splitPorts(p.ports);
        if (ports.empty()) return refuse("provision: --ports names no port");
        return provision(plan, ports, p.reportFile, p.trace);
    }

    const auto session = std::make_unique<Session>();  // fixed storage, made once
    Session& s = *session;
    s.core.startUp();
    if (p.trace) s.line.setTrace(kStandardError);
    if (!p.traceFile.empty()) {
        std::string why;
        const int fd = openTraceFile(p.traceFile, &why);
        if (fd < 0) return refuse("cannot open " + p.traceFile + ": " + why);
        beginSessionTrace(fd, "ostrakan-cli " OSTRAKAN_VERSION);
        s.line.setTrace(fd);  // closed by the system at exit, after the port
    }

    std::unique_ptr<BuiltInSimulator> sim;
    std::string why;
    if (const int status = openSession(s, p.port, &sim, &why)) return status == kExitUsage ? refuse(why) : report(status, why);

    int status = kExitDone;
    switch (command.verb) {
    case Verb::ReadParameter: status = readParameter(s, command.parameter); break;
    case Verb::WriteParameter: status = writeParameter(s, command.parameter, command.value); break;
    case Verb::ReadChannels: status = readChannels(s); break;
    case Verb::WriteChannels: status = writeChannels(s, command.channelBits); break;
    case Verb::ModemRead: status = modemRead(s); break;
    case Verb::ModemWrite: status = modemWrite(s, command.modem); break;
    case Verb::Dump: status = dumpUnit(s, p.outFile); break;
    case Verb::Restore: status = restoreCommand(s, plan, !p.noVerify); break;
    case Verb::Ports:
    case Verb::Provision: break;
    }
    flushOut();
    s.core.closePort();
    return status;
}

}  // namespace ostrakan::cli
