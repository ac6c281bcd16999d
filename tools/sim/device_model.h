// The simulated ТМКР 3170-12 and its modem: what they keep and what they answer.
// No I/O here: the server (sim_server.h) feeds received bursts in and sends the
// answers, with the faults the command line asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrakan::sim {

constexpr int kChannels = 31;
constexpr int kServiceProfiles = 10;

struct ControllerState {
    std::uint8_t period = 0;   // the 8-bit register behind "read period"
    std::uint8_t address = 0;
    std::string phones[3];     // phone 1, phone 2, SMS phone
    std::uint8_t channels[kChannels] = {};
};

struct ConnectionProfile {
    std::string conType, apn, user, passwd;
};

struct ServiceProfile {
    std::string srvType, address;
};

struct ModemState {
    bool echo = false;
    bool storedEcho = false;
    ConnectionProfile connection;         // current profile 0
    ConnectionProfile storedConnection;   // what AT^SIPS=connection,save,0 stored
    bool connectionStored = false;
    ServiceProfile services[kServiceProfiles];
    ServiceProfile storedServices[kServiceProfiles];
    bool serviceStored[kServiceProfiles] = {};
};

class DeviceModel {
public:
    // A unit as it comes back from the field (a stored internet setup, some
    // parameters), or with `blank` a unit that was never configured.
    explicit DeviceModel(bool blank = false);

    // Splits a received burst into requests: a burst that starts with the frame
    // head is one controller frame; anything else is modem text, one request per
    // command line (CR or LF ends a line; empty lines are dropped).
    static std::vector<std::string> splitRequests(const std::string& burst);

    // The name fault options match against: "read:period", "write:phone2",
    // "read:channels", ... for frames; the command line itself ("ATE0",
    // "AT^SIPS=service,load,0", "+++") for the modem.
    static std::string nameOf(const std::string& request);

    // Carries the request out and returns the answer (empty: no answer).
    std::string answer(const std::string& request);

    ControllerState controller;
    ModemState modem;

private:
    std::string answerFrame(const std::string& frame);
    std::string answerModem(const std::string& line);
    std::string modemCommand(const std::string& line);
    std::string sicsListing() const;
    std::string sissListing() const;
};

// Reply texts of the modem.
extern const char kReplyOk[];            // "\r\nOK\r\n"
extern const char kReplyBlankLineOk[];   // "\r\n\r\nOK\r\n"
extern const char kReplyError[];         // "\r\nERROR\r\n"

}  // namespace ostrakan::sim
