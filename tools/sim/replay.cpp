#include "tools/sim/replay.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "tools/sim/sim_server.h"

namespace ostrakan::sim {

namespace {

// "+12.345" -> 12345 ms; false past kMaxStampMs.
bool parseStamp(std::string_view word, long long* ms) {
    const std::size_t dot = word.find('.');
    if (word.size() < 6 || word[0] != '+' || dot == std::string_view::npos || word.size() - dot != 4) return false;
    long long value = 0;
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (i == dot) continue;
        const char c = word[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > kMaxStampMs) return false;
    }
    *ms = value;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The next word of a line (split at spaces and tabs), or an empty view at its end.
std::string_view nextWord(std::string_view line, std::size_t* pos) {
    while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == '\t')) ++*pos;
    const std::size_t start = *pos;
    while (*pos < line.size() && line[*pos] != ' ' && line[*pos] != '\t') ++*pos;
    return line.substr(start, *pos - start);
}

}  // namespace

bool parseRecording(std::string_view text, const std::string& name, std::vector<RecordedExchange>* exchanges,
                    std::string* error) {
    std::string requestSide;
    int added = 0;  // ms the recording side added to each reply's time
    long long requestMs = 0;
    std::size_t open = 0;  // 1 + the index of the exchange whose replies follow; 0: none
    bool anySession = false;
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string where = name + ":" + std::to_string(number) + ": ";
        if (line.empty()) continue;
        if (line[0] == '#') {
            // A new session: its times start again from 0.
            if (line.substr(0, 15) == "# ostrakan-cli ") {
                requestSide = "TX";
                added = kProgramQuietMs + kRequestQuietMs;
            } else if (line.substr(0, 15) == "# ostrakan-sim ") {
                requestSide = "RX";
                added = 0;
            } else {
                *error = where + "not a header of ostrakan-cli or ostrakan-sim";
                return false;
            }
            anySession = true;
            open = 0;
            continue;
        }
        std::size_t pos = 0;
        const std::string_view stamp = nextWord(line, &pos);
        const std::string_view direction = nextWord(line, &pos);
        long long ms = 0;
        if (requestSide.empty() || (direction != "TX" && direction != "RX")) {
            *error = where + "not a session trace line (a header line first, then \"+S.mmm TX|RX bytes\")";
            return false;
        }
        if (!parseStamp(stamp, &ms)) {
            *error = where + "\"" + std::string(stamp) + "\" is not a time stamp \"+S.mmm\" of at most " +
                     std::to_string(kMaxStampMs / 1000) + " s";
            return false;
        }
        RecordedExchange exchange;
        std::string& bytes = exchange.request;
        for (std::string_view word = nextWord(line, &pos); !word.empty() && word[0] != '|';
             word = nextWord(line, &pos)) {
            if (word == "**") {
                // A hidden password: one span of them per line.
                if (exchange.redactedFrom == std::string::npos) exchange.redactedFrom = bytes.size();
                else if (exchange.redactedFrom + exchange.redactedLength != bytes.size()) {
                    *error = where + "hidden bytes \"**\" in more than one place";
                    return false;
                }
                ++exchange.redactedLength;
                bytes += '*';
                continue;
            }
            const int high = word.size() == 2 ? hexDigit(word[0]) : -1;
            const int low = word.size() == 2 ? hexDigit(word[1]) : -1;
            if (high < 0 || low < 0) {
                *error = where + "\"" + std::string(word) + "\" is not a byte in hex";
                return false;
            }
            bytes += static_cast<char>(high * 16 + low);
        }
        if (direction == requestSide) {
            exchanges->push_back(std::move(exchange));
            open = exchanges->size();
            requestMs = ms;
        } else if (open) {
            // A hidden password in a reply (an echo) goes out as its '*' bytes.
            const long long delay = ms - requestMs - added;
            const int delayMs = delay <= 0 ? 0 : delay >= INT_MAX ? INT_MAX : static_cast<int>(delay);
            (*exchanges)[open - 1].replies.push_back({delayMs, std::move(bytes)});
        }
        // A reply before any request of its session answers nothing: skipped.
    }
    if (!anySession) {
        *error = name + ": holds no session (no \"# ostrakan-cli\" or \"# ostrakan-sim\" header line)";
        return false;
    }
    if (exchanges->empty()) {
        *error = name + ": holds no request to answer";
        return false;
    }
    return true;
}

bool loadRecording(const std::string& path, std::vector<RecordedExchange>* exchanges, std::string* error) {
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(path, code);
    if (code) {
        *error = "cannot read " + path + ": " + code.message();
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        *error = path + " is a folder, not a session trace";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *error = path + " is a device or pipe, not a session trace file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    // Read in pieces up to one byte past the limit, which tells a file that is
    // too large whatever its size said a moment ago.
    // Room for the whole file, or for the limit and the piece that passes it.
    constexpr std::size_t kPiece = 65536;
    std::string text;
    const std::uintmax_t size = std::filesystem::file_size(path, code);
    text.reserve(code ? 0 : static_cast<std::size_t>(std::min<std::uintmax_t>(size, kMaxRecordingBytes + kPiece)));
    char piece[kPiece];
    while (text.size() <= kMaxRecordingBytes && in.read(piece, sizeof piece).gcount() > 0)
        text.append(piece, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    if (text.size() > kMaxRecordingBytes) {
        *error = path + ": larger than " + std::to_string(kMaxRecordingBytes / (1024 * 1024)) +
                 " MiB, no session trace";
        return false;
    }
    return parseRecording(text, path, exchanges, error);
}

bool matchesRequest(const RecordedExchange& exchange, const std::string& request) {
    if (exchange.redactedFrom == std::string::npos) return exchange.request == request;
    const std::size_t before = exchange.redactedFrom;
    const std::size_t after = exchange.request.size() - before - exchange.redactedLength;
    return request.size() >= before + after && request.compare(0, before, exchange.request, 0, before) == 0 &&
           request.compare(request.size() - after, after, exchange.request, before + exchange.redactedLength,
                           after) == 0;
}

RecordedExchange* takeExchange(std::vector<RecordedExchange>& exchanges, const std::string& request) {
    for (RecordedExchange& e : exchanges) {
        if (e.used || !matchesRequest(e, request)) continue;
        e.used = true;
        return &e;
    }
    return nullptr;
}

}  // namespace ostrakan::sim
