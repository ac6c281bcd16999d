// A recorded session (a session trace, serial/trace.h) turned into answers:
// each request the program sent, with the bursts that came back and when.
#pragma once

#include <string>
#include <vector>

namespace ostrakan::sim {

// The program's quiet gap: a burst it records as RX ended this long before.
constexpr int kProgramQuietMs = 200;

struct RecordedReply {
    int delayMs;  // after the simulator has the request
    std::string bytes;
};

struct RecordedExchange {
    std::string request;
    std::vector<RecordedReply> replies;  // none: the device was silent
    bool used = false;
};

// Reads a session trace written by ostrakan-cli --trace-file (TX requests, RX
// replies) or by ostrakan-sim --trace-file (RX requests, TX replies), any number
// of sessions one after the other. A reply's delay is its time after the
// request's, less what the recording side added: the program logs a reply when
// its quiet gap has passed (200 ms) and a request when it hands it over, 20 ms
// before the simulator has it. False with a message for a file that is no
// session trace.
bool loadRecording(const std::string& path, std::vector<RecordedExchange>* exchanges, std::string* error);

// The first exchange not yet used whose request is exactly `request`, marked
// used; nullptr when the recording holds none.
RecordedExchange* takeExchange(std::vector<RecordedExchange>& exchanges, const std::string& request);

}  // namespace ostrakan::sim
