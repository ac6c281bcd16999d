#include "tools/cli/cli.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/core.h"
#include "app/headless_window.h"
#include "app/unix/host_loop.h"
#include "controller/frames.h"
#include "modem/commands.h"
#include "resources/resource.h"
#include "serial/port_name.h"
#include "serial/unix/port_map.h"
#include "serial/unix/posix_line.h"
#include "tools/sim/device_model.h"
#include "tools/sim/sim_server.h"

namespace ostrakan::cli {

const char kUsage[] =
    "usage: ostrakan-cli [--port PORT] [--trace] COMMAND\n"
    "PORT: a COM name (COM1..COM256, default COM1), a device path, or \"sim\" for the\n"
    "built-in simulated device.\n"
    "Commands:\n"
    "  read period|address|phone1|phone2|sms\n"
    "  write period|address DDD\n"
    "  write phone1|phone2|sms NUMBER\n"
    "  read channels                      31 lines \"N A T BX\"\n"
    "  write channels [N:A|N:T|N:BX ...]  sets exactly the listed boxes\n"
    "  modem read\n"
    "  modem write [--ip X] [--apn X] [--user X] [--password X] [--no-internet]\n"
    "  ports\n"
    "Exit status: 0 done, 1 no answer in time or modem Error!/Empty0/Empty9,\n"
    "2 bad usage or refused input, 3 port not opened or lost (cable or adapter pulled).\n";

namespace {

// Set by the SIGINT/SIGTERM handler; read by the host loop after each pass, so a
// procedure in progress ends its wait and the port is closed on the way out.
std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) { gInterrupted.store(true); }

int usage(const char* what) {
    std::fprintf(stderr, "ostrakan-cli: %s\n%s", what, kUsage);
    return kExitUsage;
}

int refuse(const char* what) {
    std::fprintf(stderr, "ostrakan-cli: %s\n", what);
    return kExitUsage;
}

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
    std::string value;
    int channelBits[kChannelCount] = {};  // wanted bits for write channels
    const char* entries[4] = {};          // ip, apn, user, password (nullptr: keep)
    bool noInternet = false;
};

int parseCommand(const std::vector<std::string>& words, Command* c) {
    if (words.empty()) return usage("no command given");
    const std::string& verb = words[0];
    if (verb == "ports") {
        if (words.size() != 1) return usage("ports takes no arguments");
        c->verb = Verb::Ports;
        return kExitDone;
    }
    if (verb == "read") {
        if (words.size() != 2) return usage("read takes one setting");
        if (words[1] == "channels") {
            c->verb = Verb::ReadChannels;
            return kExitDone;
        }
        c->parameter = parameterIndex(words[1]);
        if (c->parameter < 0) return usage("read: unknown setting");
        c->verb = Verb::ReadParameter;
        return kExitDone;
    }
    if (verb == "write") {
        if (words.size() < 2) return usage("write needs a setting");
        if (words[1] == "channels") {
            c->verb = Verb::WriteChannels;
            for (std::size_t i = 2; i < words.size(); ++i) {
                const std::string& w = words[i];
                const std::size_t colon = w.find(':');
                const std::string number = w.substr(0, colon);
                const std::string column = colon == std::string::npos ? "" : w.substr(colon + 1);
                int n = 0;
                if (number.empty() || number.size() > 2 ||
                    number.find_first_not_of("0123456789") != std::string::npos ||
                    (n = std::stoi(number)) < 1 || n > static_cast<int>(kChannelCount))
                    return refuse(("write channels: bad channel in \"" + w + "\" (1..31)").c_str());
                int bit = 0;
                if (column == "A") bit = kChannelA;
                else if (column == "T") bit = kChannelT;
                else if (column == "BX") bit = kChannelBx;
                else return refuse(("write channels: bad box in \"" + w + "\" (A, T or BX)").c_str());
                c->channelBits[n - 1] |= bit;
            }
            return kExitDone;
        }
        c->parameter = parameterIndex(words[1]);
        if (c->parameter < 0) return usage("write: unknown setting");
        if (words.size() != 3) return usage("write: give exactly one value");
        c->verb = Verb::WriteParameter;
        c->value = words[2];
        const auto* text = reinterpret_cast<const std::uint8_t*>(c->value.data());
        if (c->parameter <= kAddressField && !isValueText(text, c->value.size()))
            return refuse("write: the value must be exactly three digits 0..9, e.g. 007");
        if (c->parameter >= kPhone1Field && c->value.size() > kMaxPhoneDigits)
            return refuse("write: a telephone number holds at most 18 characters");
        return kExitDone;
    }
    if (verb == "modem") {
        if (words.size() < 2) return usage("modem read or modem write");
        if (words[1] == "read") {
            if (words.size() != 2) return usage("modem read takes no options");
            c->verb = Verb::ModemRead;
            return kExitDone;
        }
        if (words[1] != "write") return usage("modem read or modem write");
        c->verb = Verb::ModemWrite;
        static const char* const kFlags[4] = {"--ip", "--apn", "--user", "--password"};
        for (std::size_t i = 2; i < words.size(); ++i) {
            if (words[i] == "--no-internet") {
                c->noInternet = true;
                continue;
            }
            int which = -1;
            for (int k = 0; k < 4; ++k)
                if (words[i] == kFlags[k]) which = k;
            if (which < 0) return usage(("modem write: unknown option " + words[i]).c_str());
            if (i + 1 >= words.size()) return usage(("modem write: " + words[i] + " needs a value").c_str());
            c->entries[which] = words[++i].c_str();
        }
        if (c->noInternet)
            for (const char* e : c->entries)
                if (e) return refuse("modem write: --no-internet erases the internet profiles; it takes no entries");
        return kExitDone;
    }
    return usage(("unknown command " + verb).c_str());
}

// ---- ports -------------------------------------------------------------------

bool isCharDevice(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// A /dev/ttySn node exists for every possible UART; the serial core reports
// type 0 for the ones without hardware.
bool hardwarePresent(const char* path) {
    const char* base = std::strrchr(path, '/');
    if (!base || std::strncmp(base + 1, "ttyS", 4) != 0) return true;
    char sys[128];
    std::snprintf(sys, sizeof sys, "/sys/class/tty/%s/type", base + 1);
    FILE* f = std::fopen(sys, "r");
    if (!f) return true;
    int type = 0;
    const bool read = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return !read || type != 0;
}

int listPorts() {
    char path[kDevicePathRoom];
    int found = 0;
    for (int n = 1; n <= 256; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "COM%d", n);
        if (!mapPortName(name, path, sizeof path)) continue;
        if (!isCharDevice(path) || !hardwarePresent(path)) continue;
        std::printf("%s %s\n", name, path);
        ++found;
    }
    if (found == 0) std::fprintf(stderr, "ostrakan-cli: no serial ports found\n");
    return kExitDone;
}

// ---- the session: core, line, loop ---------------------------------------------

// One instance, made before anything runs: the controls, the buffers and the line
// are fixed storage, so nothing in the loop allocates.
struct Session {
    HeadlessWindow window;
    LinkBuffers link;
    PosixLine line{link};
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
    return w.lost || !w.core->requests.isSet(w.request) || gInterrupted.load() || ++w.guard > 200000;
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

int interrupted() {
    std::fprintf(stderr, "ostrakan-cli: interrupted\n");
    return kExitNoAnswer;
}

int lineLost(Session& s) {
    const char* device = s.line.lastDevice();
    if (s.core.openedPortName[0] != 0)
        std::fprintf(stderr, "ostrakan-cli: %s (%s) is lost: check the cable or the USB adapter\n",
                     s.core.openedPortName, device);
    else
        std::fprintf(stderr, "ostrakan-cli: %s is lost: check the cable or the USB adapter\n", device);
    return kExitPort;
}

// A write is "sent" only when the driver took every byte of it.
int notSent(const char* what) {
    std::fprintf(stderr, "ostrakan-cli: %s was not sent: the port did not take the bytes\n", what);
    return kExitNoAnswer;
}

int readParameter(Session& s, HostLoop& loop, int index) {
    const Waiting w = runProcedure(s, loop, IDC_PARAMETER_READ_BASE + index,
                                   static_cast<Request>(kReadPeriod + 2 * index));
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    if (w.timedOut) {
        std::fprintf(stderr, "ostrakan-cli: the controller did not answer in time\n");
        return kExitNoAnswer;
    }
    const char* text = textOf(s, s.core.controllerPanel.parameterFields[index]);
    // A value read always shows three digits; a reply too short to carry the
    // byte leaves the (fresh, empty) field as it was.
    if (index <= kAddressField && std::strlen(text) != 3) {
        std::fprintf(stderr, "ostrakan-cli: the controller's reply carried no value\n");
        return kExitNoAnswer;
    }
    std::printf("%s\n", text);
    return kExitDone;
}

int writeParameter(Session& s, HostLoop& loop, int index, const std::string& value) {
    TextField& field = s.core.controllerPanel.parameterFields[index];
    s.window.typeInto(field.control(), value.c_str());
    const Waiting w =
        runProcedure(s, loop, IDC_PARAMETER_WRITE_BASE + index, static_cast<Request>(kWritePeriod + 2 * index));
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    if (!s.line.lastHandOffWritten()) return notSent(kParameterNames[index]);
    std::fprintf(stderr, "ostrakan-cli: %s %s sent\n", kParameterNames[index], value.c_str());
    return kExitDone;
}

int boxId(int column, int n) {
    return column == 0 ? channelAId(n) : column == 1 ? channelTId(n) : channelBxId(n);
}

int readChannels(Session& s, HostLoop& loop) {
    const Waiting w = runProcedure(s, loop, IDC_CHANNELS_READ, kReadChannels);
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    if (w.timedOut) {
        std::fprintf(stderr, "ostrakan-cli: the controller did not answer in time\n");
        return kExitNoAnswer;
    }
    for (int n = 1; n <= static_cast<int>(kChannelCount); ++n)
        std::printf("%d %d %d %d\n", n, s.window.checkState(boxId(0, n)) == Checked ? 1 : 0,
                    s.window.checkState(boxId(1, n)) == Checked ? 1 : 0,
                    s.window.checkState(boxId(2, n)) == Checked ? 1 : 0);
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
                std::fprintf(stderr, "ostrakan-cli: channel box %d does not take its state\n", id);
                return kExitUsage;
            }
        }
    }
    const Waiting w = runProcedure(s, loop, IDC_CHANNELS_WRITE, kWriteChannels);
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    if (!s.line.lastHandOffWritten()) return notSent("the channels");
    std::fprintf(stderr, "ostrakan-cli: channels sent\n");
    return kExitDone;
}

// The modem's result texts that are failures.
int modemOutcome(const char* status) {
    if (std::strcmp(status, "Ok!") == 0) return kExitDone;
    std::fprintf(stderr, "%s\n", status);
    return kExitNoAnswer;
}

int modemRead(Session& s, HostLoop& loop) {
    const Waiting w = runProcedure(s, loop, IDC_MODEM_READ, kModemQuery);
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    const int status = modemOutcome(textOf(s, s.core.queryStatusField));
    if (status != kExitDone) return status;
    std::printf("IP Address: %s\nAPN: %s\nUser: %s\n", textOf(s, s.core.ipAddressField),
                textOf(s, s.core.apnField), textOf(s, s.core.userField));
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
            if (c.entries[k]) s.window.typeInto(fields[k]->control(), c.entries[k]);
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
    if (gInterrupted.load()) return interrupted();
    if (w.lost) return lineLost(s);
    const int status = modemOutcome(textOf(s, s.core.setupStatusField));
    if (status == kExitDone) std::printf("Ok!\n");
    return status;
}

// The built-in simulated device on a pseudo-terminal of its own. The model and
// the pseudo-terminal's master side belong to the server thread once it runs; the
// program reaches the device only through the slave side, like a real port.
// stopPipe is written by the destructor on the main thread to end the server.
struct InProcessSim {
    sim::PseudoTerminal pty;
    sim::DeviceModel model;
    int stopPipe[2] = {-1, -1};
    std::thread server;

    bool start(std::string* error) {
        if (!sim::openPseudoTerminal(&pty, error)) return false;
        if (::pipe(stopPipe) != 0) {
            *error = "cannot create a pipe";
            return false;
        }
        server = std::thread([this] {
            sim::SimServer(model, {}, -1).serve(pty.master, stopPipe[0]);
        });
        return true;
    }
    ~InProcessSim() {
        if (server.joinable()) {
            const char one = 1;
            (void)!::write(stopPipe[1], &one, 1);
            server.join();
        }
        for (int fd : stopPipe)
            if (fd >= 0) ::close(fd);
        sim::closePseudoTerminal(&pty);
    }
};

}  // namespace

int run(int argc, char** argv) {
    std::string port = "COM1";
    bool trace = false;
    std::vector<std::string> words;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        if (a == "--trace") {
            trace = true;
        } else if (a == "--port") {
            if (i + 1 >= argc) return usage("--port needs a value");
            port = argv[++i];
        } else if (a.compare(0, 2, "--") == 0) {
            return usage(("unknown option " + a).c_str());
        } else {
            break;
        }
    }
    for (; i < argc; ++i) words.push_back(argv[i]);

    Command command;
    if (const int status = parseCommand(words, &command); status != kExitDone) return status;
    if (command.verb == Verb::Ports) return listPorts();

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    static Session session;  // fixed storage, made once
    Session& s = session;
    s.core.startUp();
    if (trace) s.line.setTrace(STDERR_FILENO);

    InProcessSim sim;
    std::string device = port;
    if (port == "sim") {
        std::string error;
        if (!sim.start(&error)) {
            std::fprintf(stderr, "ostrakan-cli: %s\n", error.c_str());
            return kExitPort;
        }
        device = sim.pty.slavePath;
    }

    if (isDevicePath(device.c_str())) {
        if (s.line.open(device.c_str()) != kPortOpened) {
            char why[kDevicePathRoom + 160];
            s.line.describeFailure(why, sizeof why);
            std::fprintf(stderr, "ostrakan-cli: the port did not open: %s\n", why);
            return kExitPort;
        }
    } else {
        // A COM name goes through the window's open command, with its name check.
        s.window.typeInto(s.core.portNameField.control(), device.c_str());
        s.core.onCommand(IDM_OPEN_PORT, 0);
        const char* status = textOf(s, s.core.statusField);
        if (std::strcmp(status, "Name is wrong.") == 0) {
            std::fprintf(stderr, "ostrakan-cli: %s (a port is COM1..COM256, a device path or sim)\n", status);
            return kExitUsage;
        }
        if (!s.line.isOpen()) {
            char why[kDevicePathRoom + 160];
            s.line.describeFailure(why, sizeof why);
            std::fprintf(stderr, "ostrakan-cli: %s %s: %s\n", status, device.c_str(), why);
            return kExitPort;
        }
    }

    HostLoop loop(s.core, s.line);
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
    std::fflush(stdout);
    s.core.closePort();
    return status;
}

}  // namespace ostrakan::cli
