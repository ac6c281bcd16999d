#include "tools/sim/device_model.h"

#include <cctype>
#include <cstring>

namespace ostrakan::sim {

const char kReplyOk[] = "\r\nOK\r\n";
const char kReplyBlankLineOk[] = "\r\n\r\nOK\r\n";
const char kReplyError[] = "\r\nERROR\r\n";

namespace {

const char kHead[] = "\x0A\x21\xAA";
// Offset 3 of the answer to a write: the controller acknowledges, the program
// does not look.
constexpr char kAck = 0x06;

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool isFrame(const std::string& s) { return s.size() >= 3 && s.compare(0, 3, kHead, 3) == 0; }

bool endsWithCrLf(const std::string& s) {
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s[s.size() - 1] == '\n';
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "0,\"apn\",\"internet\"" -> id 0, key apn, value internet. The value runs to the
// last quote, so a value holding quotes or commas comes out whole.
bool parseSetting(const std::string& args, int* id, std::string* key, std::string* value) {
    const std::size_t comma = args.find(',');
    if (comma == std::string::npos || comma == 0 || comma > 2) return false;
    for (std::size_t i = 0; i < comma; ++i)
        if (!std::isdigit(static_cast<unsigned char>(args[i]))) return false;
    *id = std::stoi(args.substr(0, comma));
    std::string rest = args.substr(comma + 1);
    std::size_t keyEnd;
    if (!rest.empty() && rest[0] == '"') {
        keyEnd = rest.find('"', 1);
        if (keyEnd == std::string::npos) return false;
        *key = rest.substr(1, keyEnd - 1);
        ++keyEnd;
    } else {
        keyEnd = rest.find(',');
        if (keyEnd == std::string::npos) return false;
        *key = rest.substr(0, keyEnd);
    }
    if (keyEnd >= rest.size() || rest[keyEnd] != ',') return false;
    std::string v = rest.substr(keyEnd + 1);
    if (!v.empty() && v[0] == '"') {
        const std::size_t last = v.rfind('"');
        if (last == 0) return false;
        v = v.substr(1, last - 1);
    }
    *value = v;
    return true;
}

const char* readName(char selector) {
    switch (selector) {
    case 'A': return "read:period";
    case '@': return "read:address";
    case '0': return "read:phone1";
    case '1': return "read:phone2";
    case '2': return "read:sms";
    case 'B': return "read:channels";
    default: return "read:?";
    }
}

const char* const kPhoneNames[3] = {"write:phone1", "write:phone2", "write:sms"};

}  // namespace

DeviceModel::DeviceModel(bool blank) {
    if (blank) return;
    controller.period = 10;
    controller.address = 7;
    controller.phones[0] = "89161234567";
    controller.phones[1] = "89031112233";
    controller.phones[2] = "89990001122";
    controller.channels[0] = 0x01;   // 1: A
    controller.channels[1] = 0x03;   // 2: A T
    controller.channels[16] = 0x02;  // 17: T
    controller.channels[30] = 0x04;  // 31: BX

    modem.connection = {"GPRS0", "internet", "gdata", "gdata"};
    modem.storedConnection = modem.connection;
    modem.connectionStored = true;
    modem.services[0] = {"Socket", "socktcp://listener:65534"};
    modem.services[9] = {"Socket", "socktcp://192.0.2.10:65534"};
    for (int i = 0; i < kServiceProfiles; ++i) {
        modem.storedServices[i] = modem.services[i];
        modem.serviceStored[i] = !modem.services[i].srvType.empty();
    }
}

std::vector<std::string> DeviceModel::splitRequests(const std::string& burst) {
    std::vector<std::string> requests;
    if (isFrame(burst)) {
        requests.push_back(burst);
        return requests;
    }
    std::string line;
    for (char c : burst) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) requests.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) requests.push_back(line);
    return requests;
}

std::string DeviceModel::nameOf(const std::string& request) {
    if (!isFrame(request)) return request;
    if (request.size() < 5) return "frame:?";
    const char kind = request[3];
    if (kind == 'N') return readName(request[4]);
    if (kind == 'B' && request.size() == 35) return "write:channels";
    if ((kind == '0' || kind == '1' || kind == '2') && request.compare(4, 4, "ATDP") == 0) {
        if (endsWithCrLf(request)) return kPhoneNames[kind - '0'];
        if (kind == '0' && request.size() == 12 && request[8] == '2') return "write:period";
        if (kind == '0' && request.size() == 12 && request[8] == '1') return "write:address";
    }
    return "frame:?";
}

std::string DeviceModel::answer(const std::string& request) {
    return isFrame(request) ? answerFrame(request) : answerModem(request);
}

std::string DeviceModel::answerFrame(const std::string& frame) {
    const std::string name = nameOf(frame);
    const std::string head(kHead, 3);
    const std::string ack = head + kAck + "\r\n";
    if (startsWith(name, "read:") && name != "read:?") {
        const char selector = frame[4];
        if (name == "read:period" || name == "read:address") {
            const std::uint8_t v = name == "read:period" ? controller.period : controller.address;
            return head + selector + static_cast<char>(v) + "\r\n";
        }
        if (name == "read:channels") {
            std::string reply = head + selector;
            for (std::uint8_t c : controller.channels) reply += static_cast<char>(c);
            return reply + "\r\n";
        }
        // Phones: offsets 3..6 are the selector and "TEL", never zero or an end
        // of line, so the program's measure from offset 0 reaches the number.
        return head + selector + "TEL" + controller.phones[selector - '0'] + "\r\n";
    }
    if (name == "write:period" || name == "write:address") {
        int v = 0;
        for (int i = 9; i < 12; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(frame[static_cast<std::size_t>(i)]))) return "";
            v = v * 10 + (frame[static_cast<std::size_t>(i)] - '0');
        }
        // The register is 8 bits wide: 256..999 keep their low byte.
        (name == "write:period" ? controller.period : controller.address) = static_cast<std::uint8_t>(v % 256);
        return ack;
    }
    if (startsWith(name, "write:phone") || name == "write:sms") {
        controller.phones[frame[3] - '0'] = frame.substr(8, frame.size() - 10);
        return ack;
    }
    if (name == "write:channels") {
        for (int k = 0; k < kChannels; ++k)
            controller.channels[k] = static_cast<std::uint8_t>(frame[static_cast<std::size_t>(4 + k)] & 0x07);
        return ack;
    }
    return "";  // not a request this controller knows: it stays silent
}

std::string DeviceModel::answerModem(const std::string& line) {
    if (line == "+++") return "";  // back in command mode; nothing is said
    const bool echoed = modem.echo;
    const std::string reply = modemCommand(line);
    return echoed ? line + "\r" + reply : reply;
}

std::string DeviceModel::modemCommand(const std::string& line) {
    const std::string cmd = upper(line);
    if (cmd.size() < 2 || cmd.compare(0, 2, "AT") != 0) return kReplyError;
    if (cmd == "AT") return kReplyOk;
    if (cmd == "ATE0" || cmd == "ATE") {
        modem.echo = false;
        return kReplyOk;
    }
    if (cmd == "ATE1") {
        modem.echo = true;
        return kReplyOk;
    }
    if (cmd == "AT&W") {
        modem.storedEcho = modem.echo;
        return kReplyOk;
    }
    if (cmd == "AT&D0" || cmd == "AT&D1" || cmd == "AT&D2" || cmd == "AT+CMGF=0" || cmd == "AT+CMGF=1")
        return kReplyOk;
    if (cmd == "AT^SICS?") return sicsListing();
    if (cmd == "AT^SISS?") return sissListing();

    int id = 0;
    std::string key, value;
    if (startsWith(cmd, "AT^SICS=")) {
        if (!parseSetting(line.substr(8), &id, &key, &value) || id != 0) return kReplyError;
        ConnectionProfile& p = modem.connection;
        if (key == "conType") p.conType = value;
        else if (key == "apn") p.apn = value;
        else if (key == "user") p.user = value;
        else if (key == "passwd") p.passwd = value;
        else return kReplyError;
        return kReplyBlankLineOk;
    }
    if (startsWith(cmd, "AT^SISS=")) {
        if (!parseSetting(line.substr(8), &id, &key, &value) || id >= kServiceProfiles) return kReplyError;
        ServiceProfile& p = modem.services[id];
        if (key == "srvType") p.srvType = value;
        else if (key == "address") p.address = value;
        else return kReplyError;
        return kReplyBlankLineOk;
    }
    if (startsWith(cmd, "AT^SIPS=")) {
        // AT^SIPS=<type>,<action>,<profile>
        const std::string args = cmd.substr(8);
        const std::size_t c1 = args.find(',');
        const std::size_t c2 = c1 == std::string::npos ? c1 : args.find(',', c1 + 1);
        if (c2 == std::string::npos || c2 + 1 >= args.size()) return kReplyError;
        const std::string type = args.substr(0, c1);
        const std::string action = args.substr(c1 + 1, c2 - c1 - 1);
        const std::string number = args.substr(c2 + 1);
        if (number.size() != 1 || !std::isdigit(static_cast<unsigned char>(number[0]))) return kReplyError;
        const int n = number[0] - '0';
        const bool service = type == "SERVICE" || type == "ALL";
        const bool connection = type == "CONNECTION" || type == "ALL";
        if (!service && !connection) return kReplyError;
        if (connection && !service && n != 0) return kReplyError;
        if (action == "SAVE") {
            if (service) {
                // A reset profile is saved as "no profile": loading it fails.
                modem.storedServices[n] = modem.services[n];
                modem.serviceStored[n] = !modem.services[n].srvType.empty();
            }
            if (connection && n == 0) {
                modem.storedConnection = modem.connection;
                modem.connectionStored = !modem.connection.conType.empty();
            }
            return kReplyBlankLineOk;
        }
        if (action == "RESET") {
            if (service) modem.services[n] = ServiceProfile{};
            if (connection && n == 0) modem.connection = ConnectionProfile{};
            return kReplyBlankLineOk;
        }
        if (action == "LOAD") {
            if (service && !modem.serviceStored[n]) return kReplyError;
            if (connection && n == 0 && !modem.connectionStored && !service) return kReplyError;
            if (service) modem.services[n] = modem.storedServices[n];
            if (connection && n == 0 && modem.connectionStored) modem.connection = modem.storedConnection;
            return kReplyBlankLineOk;
        }
        return kReplyError;
    }
    return kReplyError;
}

std::string DeviceModel::sicsListing() const {
    const ConnectionProfile& p = modem.connection;
    std::string s = "\r\n";
    s += "^SICS: 0,\"conType\",\"" + (p.conType.empty() ? std::string("none") : p.conType) + "\"\r\n";
    if (!p.conType.empty()) {
        s += "^SICS: 0,\"user\",\"" + p.user + "\"\r\n";
        s += "^SICS: 0,\"passwd\",\"" + std::string(p.passwd.empty() ? "" : "*****") + "\"\r\n";
        s += "^SICS: 0,\"apn\",\"" + p.apn + "\"\r\n";
    }
    return s + kReplyOk;
}

std::string DeviceModel::sissListing() const {
    std::string s = "\r\n";
    for (int i = 0; i < kServiceProfiles; ++i) {
        const ServiceProfile& p = modem.services[i];
        const std::string n = std::to_string(i);
        s += "^SISS: " + n + ",\"srvType\",\"" + (p.srvType.empty() ? std::string("none") : p.srvType) + "\"\r\n";
        if (!p.srvType.empty()) s += "^SISS: " + n + ",\"address\",\"" + p.address + "\"\r\n";
    }
    return s + kReplyOk;
}

}  // namespace ostrakan::sim
