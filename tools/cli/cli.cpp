#include "tools/cli/cli.h"


#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/core.h"
#include "app/headless_window.h"
#include "controller/frames.h"
#include "modem/commands.h"
#include "resources/resource.h"
#include "serial/port_name.h"
#include "tools/cli/json.h"
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

enum class Verb { ReadParameter, WriteParameter, ReadChannels, WriteChannels, ModemRead, ModemWrite, Ports };

struct Command {
    Verb verb = Verb::Ports;
    int parameter = -1;
    std::string value;                    // 1251 bytes
    int channelBits[kChannelCount] = {};  // wanted bits for write channels
    std::string entries[4];               // ip, apn, user, password, 1251 bytes
    bool given[4] = {};                   // false: keep what "_data.ini" holds
    bool noInternet = false;
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

// One instance, made before anything runs: the controls, the buffers and the line
// are fixed storage, so nothing in the loop allocates.
struct Session {
    HeadlessWindow window;
    LinkBuffers link;
    PortLine line{link};
    Core core{window, line, link};
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
Waiting runProcedure(Session& s, HostLoop& loop, int buttonId, Request request) {
    Waiting w{&s.core, request, nullptr};
    w.loop = &loop;
    for (const ControllerProcedure& p : s.core.controllerProcedures)
        if (p.info().request == request) w.procedure = &p;
    s.core.onCommand(buttonId, 0);
    loop.runUntil(requestDone, &w);
    return w;
}

const char* textOf(Session& s, const TextField& field) { return s.window.textOf(field.control()); }

// 128 + the signal, as a shell reports a program the signal ended: 130 for Ctrl-C.
int interrupted() {
    printErr("ostrakan-cli: interrupted\n");
    return 128 + gInterrupted.load();
}

int lineLost(Session& s) {
    const char* device = s.line.lastDevice();
    if (s.core.openedPortName[0] != 0)
        printErr("ostrakan-cli: %s (%s) is lost: check the cable or the USB adapter\n",
                     s.core.openedPortName, device);
    else
        printErr("ostrakan-cli: %s is lost: check the cable or the USB adapter\n", device);
    return kExitPort;
}

// A write is "sent" only when the driver took every byte of it.
int notSent(const char* what) {
    printErr("ostrakan-cli: %s was not sent: the port did not take the bytes\n", what);
    return kExitNoAnswer;
}

int readParameter(Session& s, HostLoop& loop, int index) {
    const Waiting w = runProcedure(s, loop, IDC_PARAMETER_READ_BASE + index,
                                   static_cast<Request>(kReadPeriod + 2 * index));
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    if (w.timedOut) {
        printErr("ostrakan-cli: the controller did not answer in time\n");
        return kExitNoAnswer;
    }
    const char* text = textOf(s, s.core.controllerPanel.parameterFields[index]);
    // A value read always shows three digits; a reply too short to carry the
    // byte leaves the (fresh, empty) field as it was.
    if (index <= kAddressField && std::strlen(text) != 3) {
        printErr("ostrakan-cli: the controller's reply carried no value\n");
        return kExitNoAnswer;
    }
    if (gJson) printJson(JsonWriter().beginObject().key(kParameterNames[index]).value(cp1251ToUtf8(text)).endObject());
    else printLine(text);
    return kExitDone;
}

int writeParameter(Session& s, HostLoop& loop, int index, const std::string& value) {
    TextField& field = s.core.controllerPanel.parameterFields[index];
    s.window.typeInto(field.control(), value.c_str());
    const Waiting w =
        runProcedure(s, loop, IDC_PARAMETER_WRITE_BASE + index, static_cast<Request>(kWritePeriod + 2 * index));
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    if (!s.line.lastHandOffWritten()) return notSent(kParameterNames[index]);
    printErr("ostrakan-cli: %s %s sent\n", kParameterNames[index], fromCp1251(value).c_str());
    return kExitDone;
}

int boxId(int column, int n) {
    return column == 0 ? channelAId(n) : column == 1 ? channelTId(n) : channelBxId(n);
}

int readChannels(Session& s, HostLoop& loop) {
    const Waiting w = runProcedure(s, loop, IDC_CHANNELS_READ, kReadChannels);
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    if (w.timedOut) {
        printErr("ostrakan-cli: the controller did not answer in time\n");
        return kExitNoAnswer;
    }
    const auto set = [&](int column, int n) { return s.window.checkState(boxId(column, n)) == Checked; };
    if (gJson) {
        JsonWriter json;
        json.beginObject().key("channels").beginArray();
        for (int n = 1; n <= static_cast<int>(kChannelCount); ++n)
            json.beginObject().key("A").value(set(0, n)).key("T").value(set(1, n)).key("BX").value(set(2, n)).endObject();
        printJson(json.endArray().endObject());
        return kExitDone;
    }
    for (int n = 1; n <= static_cast<int>(kChannelCount); ++n)
        printOut("%d %d %d %d\n", n, set(0, n) ? 1 : 0, set(1, n) ? 1 : 0, set(2, n) ? 1 : 0);
    return kExitDone;
}

int writeChannels(Session& s, HostLoop& loop, const int* bits) {
    static const int kBits[3] = {kChannelA, kChannelT, kChannelBx};
    // Click every box whose state is not the wanted one, as a user would.
    for (int column = 0; column < 3; ++column) {
        for (int n = 1; n <= static_cast<int>(kChannelCount); ++n) {
            const int want = (bits[n - 1] & kBits[column]) ? Checked : Unchecked;
            const int id = boxId(column, n);
            if (s.window.checkState(id) != want) s.core.onCommand(id, 0);
            if (s.window.checkState(id) != want) {
                printErr("ostrakan-cli: channel box %d does not take its state\n", id);
                return kExitUsage;
            }
        }
    }
    const Waiting w = runProcedure(s, loop, IDC_CHANNELS_WRITE, kWriteChannels);
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    if (!s.line.lastHandOffWritten()) return notSent("the channels");
    printErr("ostrakan-cli: channels sent\n");
    return kExitDone;
}

// The modem's result texts that are failures.
int modemOutcome(const char* status) {
    if (std::strcmp(status, "Ok!") == 0) return kExitDone;
    printErr("%s\n", status);
    return kExitNoAnswer;
}

int modemRead(Session& s, HostLoop& loop) {
    const Waiting w = runProcedure(s, loop, IDC_MODEM_READ, kModemQuery);
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    const int status = modemOutcome(textOf(s, s.core.queryStatusField));
    if (status != kExitDone) return status;
    const std::string ip = textOf(s, s.core.ipAddressField), apn = textOf(s, s.core.apnField),
                      user = textOf(s, s.core.userField);
    if (gJson) {
        printJson(JsonWriter()
                      .beginObject()
                      .key("ip").value(cp1251ToUtf8(ip))
                      .key("apn").value(cp1251ToUtf8(apn))
                      .key("user").value(cp1251ToUtf8(user))
                      .endObject());
        return kExitDone;
    }
    printOut("IP Address: %s\nAPN: %s\nUser: %s\n", fromCp1251(ip).c_str(), fromCp1251(apn).c_str(),
                fromCp1251(user).c_str());
    return kExitDone;
}

bool hasLineBreak(const char* text) { return std::strpbrk(text, "\r\n\x1A") != nullptr; }

int modemWrite(Session& s, HostLoop& loop, const Command& c) {
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
                return refuse(message);
            }
            if (hasLineBreak(text)) {
                std::snprintf(message, sizeof message, "modem write: the %s holds a line break", kNames[k]);
                return refuse(message);
            }
            total += n;
        }
        if (total > kPanelFileLimit - 3)
            return refuse("modem write: the four entries together hold more than 96 bytes");
    }
    const Waiting w = runProcedure(s, loop, IDC_MODEM_WRITE, kModemSetup);
    if (gInterrupted.load() != 0) return interrupted();
    if (w.lost) return lineLost(s);
    const int status = modemOutcome(textOf(s, s.core.setupStatusField));
    if (status == kExitDone) {
        if (gJson) printJson(JsonWriter().beginObject().key("status").value("Ok!").endObject());
        else printOut("Ok!\n");
    }
    return status;
}

// Builds the command line: global options (anywhere on the line, also after the
// command, through fallthrough), one subcommand per command.
struct Parsed {
    std::string port = "COM1";
    bool trace = false;
    std::string what;                   // read/write: period, ..., channels
    std::vector<std::string> values;    // write: the value or the channel boxes
    std::string entries[4];             // modem write, as typed
    std::string passwordFile;
    bool noInternet = false;
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
    app.add_flag("--trace", p.trace, "every hand-off (TX) and every burst (RX) on stderr");
    app.add_flag("--json", gJson, "reads, \"modem read\" and \"ports\" print one JSON document");
    app.footer("Exit status: 0 done, 1 no answer in time or modem Error!/Empty0/Empty9,\n"
               "2 bad usage or refused input, 3 port not opened, 130 interrupted (Ctrl-C).");

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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        printOut("%s", app.help().c_str());
        return kExitDone;
    } catch (const CLI::CallForVersion& e) {
        printOut("%s\n", e.what());
        return kExitDone;
    } catch (const CLI::ParseError& e) {
        printErr("ostrakan-cli: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    }

    // Ctrl-C from here on ends the command through its own exit path.
    catchInterrupts(&gInterrupted);

    Command command;
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
        command.noInternet = p.noInternet;
        static const char* const kFlags[4] = {"--ip", "--apn", "--user", "--password"};
        for (int k = 0; k < 4; ++k) command.given[k] = modemWriteCommand->count(kFlags[k]) > 0;
        if (!p.passwordFile.empty()) {
            if (!firstLineOf(p.passwordFile, &p.entries[3])) return refuse("cannot read " + p.passwordFile);
            command.given[3] = true;
        } else if (command.given[3] && p.entries[3] == "-") {
            p.entries[3].clear();
            if (!readPassword(&p.entries[3], gInterrupted)) {
                if (gInterrupted.load() != 0) return interrupted();
                return refuse("modem write: no password read");
            }
        }
        for (int k = 0; k < 4; ++k)
            if (command.given[k] && !argumentText(std::string("modem write ") + kFlags[k], p.entries[k],
                                                  &command.entries[k]))
                return kExitUsage;
        if (noInternet->count() > 0)
            for (bool given : command.given)
                if (given) return refuse("modem write: --no-internet erases the internet profiles; it takes no entries");
    } else if (portsCommand->parsed()) {
        return listPorts();
    }

    // "_data.ini" holds the modem password: what this program creates is for its
    // owner only (a file replaced keeps its mode).
    restrictNewFiles();

    static Session session;  // fixed storage, made once
    Session& s = session;
    s.core.startUp();
    if (p.trace) s.line.setTrace(STDERR_FILENO);

    // Made before the port opens: on Windows the line reports to the loop's window.
    HostLoop loop(s.core, s.line);
    std::unique_ptr<BuiltInSimulator> sim;
    std::string device = portName(p.port);
    if (p.port == "sim") {
        std::string error;
        int status = kExitPort;
        sim = makeBuiltInSimulator();
        device = sim->start(&error, &status);
        if (device.empty()) {
            printErr("ostrakan-cli: %s\n", error.c_str());
            return status;
        }
    }

    if (opensAsDevice(device)) {
        if (s.line.open(device.c_str()) != kPortOpened) {
            printErr("ostrakan-cli: the port did not open: %s\n", openFailure(s.line).c_str());
            return kExitPort;
        }
    } else {
        // A COM name goes through the window's open command, with its name check.
        s.window.typeInto(s.core.portNameField.control(), device.c_str());
        s.core.onCommand(IDM_OPEN_PORT, 0);
        const char* status = textOf(s, s.core.statusField);
        if (std::strcmp(status, "Name is wrong.") == 0) {
            printErr("ostrakan-cli: %s (a port is COM1..COM256, a device path or sim)\n", status);
            return kExitUsage;
        }
        if (!s.line.isOpen()) {
            printErr("ostrakan-cli: %s %s: %s\n", status, device.c_str(), openFailure(s.line).c_str());
            return kExitPort;
        }
    }

    int status = kExitDone;
    switch (command.verb) {
    case Verb::ReadParameter: status = readParameter(s, loop, command.parameter); break;
    case Verb::WriteParameter: status = writeParameter(s, loop, command.parameter, command.value); break;
    case Verb::ReadChannels: status = readChannels(s, loop); break;
    case Verb::WriteChannels: status = writeChannels(s, loop, command.channelBits); break;
    case Verb::ModemRead: status = modemRead(s, loop); break;
    case Verb::ModemWrite: status = modemWrite(s, loop, command); break;
    case Verb::Ports: break;
    }
    flushOut();
    s.core.closePort();
    return status;
}

}  // namespace ostrakan::cli
