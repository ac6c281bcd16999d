// A recorded session (a session trace, serial/trace.h) turned into answers:
// each request the program sent, with the bursts that came back and when.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ostrakan::sim {

// The program's quiet gap: a burst it records as RX ended this long before.
constexpr int kProgramQuietMs = 200;

struct RecordedReply {
    int delayMs;  // after the simulator has the request
    std::string bytes;
};

// The largest session trace read: a whole unit's dump is about 20 KiB of trace,
// so this holds hundreds of sessions and keeps a wrong file from taking memory.
constexpr std::size_t kMaxRecordingBytes = 16 * 1024 * 1024;

// Stamps above this (about 31 years) are no stamps a session wrote.
constexpr long long kMaxStampMs = 999999999999LL;

struct RecordedExchange {
    // The request's bytes; a password the trace hid ("**" bytes) stands as '*'
    // bytes from redactedFrom on, and any text in its place matches.
    std::string request;
    std::size_t redactedFrom = std::string::npos;
    std::size_t redactedLength = 0;
    std::vector<RecordedReply> replies;  // none: the device was silent
    bool used = false;
};

// Reads a session trace written by ostrakan-cli --trace-file (TX requests, RX
// replies) or by ostrakan-sim --trace-file (RX requests, TX replies), any number
// of sessions one after the other. A reply's delay is its time after the
// request's, less what the recording side added: the program logs a reply when
// its quiet gap has passed (200 ms) and a request when it hands it over, 20 ms
// before the simulator has it. False with a message for a file that is no
// session trace, holds no request, is over kMaxRecordingBytes or is no regular
// file.
bool loadRecording(const std::string& path, std::vector<RecordedExchange>* exchanges, std::string* error);

// The same for a trace's text; `name` begins each message ("NAME:LINE: what").
bool parseRecording(std::string_view text, const std::string& name, std::vector<RecordedExchange>* exchanges,
                    std::string* error);

// Whether `request` is what the exchange recorded: the same bytes, or, for a
// request with a hidden password, the same bytes before and after it with any
// password in between.
bool matchesRequest(const RecordedExchange& exchange, const std::string& request);

// The first exchange not yet used whose request matches `request`, marked
// used; nullptr when the recording holds none.
RecordedExchange* takeExchange(std::vector<RecordedExchange>& exchanges, const std::string& request);

}  // namespace ostrakan::sim
