// The single operations: one procedure each, run on an open session, nothing
// printed. Each returns an exit status and, when that is not kExitDone, says why.
#pragma once

#include <array>
#include <string>

#include "controller/frames.h"
#include "tools/cli/session.h"
#include "tools/profile/profile.h"

namespace ostrakan::cli {

extern const char* const kParameterNames[kParameterCount];  // "period", "address", ...
// The parameter's index, or -1 for a name that is none.
int parameterIndex(const std::string& name);

using Channels = std::array<ProfileChannel, kChannelCount>;

// What a modem Write sends: the given entries (1251) over those loaded from
// "_data.ini", or the without-internet path.
struct ModemEntries {
    std::string entries[4];  // ip, apn, user, password
    bool given[4] = {};
    bool noInternet = false;
};

// The modem query's result: its status text and, on "Ok!", the entries (1251).
struct ModemReading {
    std::string status;
    std::string ip, apn, user;
};

// Before a full modem Write: every entry must come from somewhere, since the
// Write sends all four and a blank erases what the modem held. `given` says
// which the command line, the profile or the password source gives; the others
// must be held (a non-empty line) by a "_data.ini" that loads. kExitDone, or
// kExitUsage with *why naming each missing entry and how to give it: as
// options (`fromProfile` false) or as profile keys.
int checkModemSources(const bool given[4], bool fromProfile, std::string* why);

// Whether the modem holds no internet profile, by either answer a modem gives
// after the without-internet reset: the query stops at a profile that does not
// load ("Empty0", "Empty9"), or the profiles load but hold no service: no server
// address and no APN.
bool holdsNoInternet(const ModemReading& r);

int fetchParameter(Session& s, int index, std::string* text, std::string* why);
int sendParameter(Session& s, int index, const std::string& value, std::string* why);
int fetchChannels(Session& s, Channels* channels, std::string* why);
// `bits` per channel: kChannelA | kChannelT | kChannelBx.
int sendChannels(Session& s, const int* bits, std::string* why);
// kExitDone whenever the query ran to its end, whatever its status text.
int fetchModem(Session& s, ModemReading* r, std::string* why);
// The Write's failures name its status text alone ("Error!"), as the window
// shows it; kExitUsage for entries the modem or the file cannot take.
int sendModem(Session& s, const ModemEntries& c, std::string* why);

}  // namespace ostrakan::cli
