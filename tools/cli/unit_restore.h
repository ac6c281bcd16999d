// The whole unit at once: read it into a profile (dump), or write a profile to it
// and read it back (restore, provision). The result says how far it got.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/cli/session.h"
#include "tools/profile/profile.h"

namespace ostrakan::cli {

// Where a unit's work has got to. Called on the thread that runs the unit.
class Progress {
public:
    virtual void step(const char* what) = 0;

protected:
    ~Progress() = default;
};

// A profile checked and turned into what the unit is sent: every text in 1251.
// Built once, before any port is touched.
struct Plan {
    Profile profile;                      // the texts in 1251
    std::optional<std::string> password;  // --password-file, over the profile's (1251)
};

// Parses, validates and converts a profile file, and checks that every modem
// entry a full Write sends has a source (the profile, the password file or
// "_data.ini"). On failure a message naming the item (kExitUsage), or an empty
// message when it has been printed already.
int loadPlan(const std::string& path, const std::string& passwordFile, Plan* plan, std::string* why);

// Reads the whole unit into a profile (texts UTF-8). A modem without an internet
// profile ("Empty0") is "internet": false.
int readUnit(Session& s, Profile* p, Progress& progress, std::string* why);

// How a restore ended.
struct RestoreResult {
    int status = 0;                        // an exit status: kExitDone, kExitDifferent, ...
    std::string why;                       // when status is neither done nor different
    std::vector<std::string> differences;  // each item that reads otherwise than written
    std::vector<std::string> written;      // profile paths sent, in order: "controller.period", ..., "modem"
    std::vector<std::string> unwritten;    // profile paths planned but not sent
    std::string step;                      // the step it ended in; "done" when it ran to its end
    bool lost = false;                     // kExitPort: the device went away (not a port that did not open)
};

// Whether a restore of the plan sends the modem password (its full modem path),
// which the modem never gives back.
bool sendsPassword(const Plan& plan);

// The profile paths a restore of the plan writes, in the order it writes them.
std::vector<std::string> plannedPaths(const Plan& plan);

// One word for how a unit ended, as the provision report and table give it: ok,
// different, no-answer, lost, port-trouble, interrupted or refused.
const char* unitStatus(const RestoreResult& r);

// Writes what the plan holds, then (with verify) reads it back.
RestoreResult restoreUnit(Session& s, const Plan& plan, bool verify, Progress& progress);

}  // namespace ostrakan::cli
