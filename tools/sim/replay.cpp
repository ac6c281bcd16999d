#include "tools/sim/replay.h"

#include <fstream>
#include <sstream>

#include "tools/sim/sim_server.h"

namespace ostrakan::sim {

namespace {

// "+12.345" -> 12345 ms.
bool parseStamp(const std::string& word, long long* ms) {
    const std::size_t dot = word.find('.');
    if (word.size() < 6 || word[0] != '+' || dot == std::string::npos || word.size() - dot != 4) return false;
    const std::string digits = word.substr(1, dot - 1) + word.substr(dot + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    *ms = std::stoll(digits);
    return true;
}

bool hexByte(const std::string& word, char* byte) {
    if (word.size() != 2 || word.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) return false;
    *byte = static_cast<char>(std::stoi(word, nullptr, 16));
    return true;
}

}  // namespace

bool loadRecording(const std::string& path, std::vector<RecordedExchange>* exchanges, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::string requestSide, line;
    int added = 0;                  // ms the recording side added to each reply's time
    long long requestMs = 0;
    std::size_t open = 0;  // 1 + the index of the exchange whose replies follow; 0: none
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.empty()) continue;
        if (line[0] == '#') {
            // A new session: its times start again from 0.
            if (line.compare(0, 15, "# ostrakan-cli ") == 0) {
                requestSide = "TX";
                added = kProgramQuietMs + kRequestQuietMs;
            } else if (line.compare(0, 15, "# ostrakan-sim ") == 0) {
                requestSide = "RX";
                added = 0;
            } else {
                *error = where + "not a header of ostrakan-cli or ostrakan-sim";
                return false;
            }
            open = 0;
            continue;
        }
        std::istringstream words(line);
        std::string stamp, direction, word;
        long long ms = 0;
        if (requestSide.empty() || !(words >> stamp >> direction) || !parseStamp(stamp, &ms) ||
            (direction != "TX" && direction != "RX")) {
            *error = where + "not a session trace line (a header line first, then \"+S.mmm TX|RX bytes\")";
            return false;
        }
        std::string bytes;
        char byte = 0;
        while (words >> word && word[0] != '|') {
            if (!hexByte(word, &byte)) {
                *error = where + "\"" + word + "\" is not a byte in hex";
                return false;
            }
            bytes += byte;
        }
        if (direction == requestSide) {
            exchanges->push_back({bytes, {}, false});
            open = exchanges->size();
            requestMs = ms;
        } else if (open) {
            const long long delay = ms - requestMs - added;
            (*exchanges)[open - 1].replies.push_back({static_cast<int>(delay > 0 ? delay : 0), bytes});
        }
        // A reply before any request of its session answers nothing: skipped.
    }
    return true;
}

RecordedExchange* takeExchange(std::vector<RecordedExchange>& exchanges, const std::string& request) {
    for (RecordedExchange& e : exchanges) {
        if (e.used || e.request != request) continue;
        e.used = true;
        return &e;
    }
    return nullptr;
}

}  // namespace ostrakan::sim
