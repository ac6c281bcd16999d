// The session trace reader of ostrakan-sim --replay, and the trace lines it
// reads back.
//
// Input: the first byte picks one of two uses of the rest.
// - Even: the rest is a trace file's text for parseRecording. A trace read holds
//   at least one request; a hidden password lies inside its request as '*'
//   bytes; every request matches itself, a hidden one also with any other
//   password in its place and no longer with a changed byte before it.
// - Odd: the rest is up to 8 bursts, each with a direction, written by
//   writeTrace into a session trace of the simulator. Read back, every burst
//   gives its own bytes, except the password's bytes (findTraceSecret), which
//   read as '*' and never appear in the file in hex; the trace reads as a
//   recording exactly when a burst went the request's way (RX).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "serial/trace.h"
#include "tools/sim/replay.h"

using namespace ostrakan;
using namespace ostrakan::sim;

namespace {

void checkRecording(const std::vector<RecordedExchange>& exchanges, const std::string& other) {
    CHECK(!exchanges.empty());
    for (const RecordedExchange& e : exchanges) {
        CHECK(!e.used);
        CHECK(matchesRequest(e, e.request));
        if (e.redactedFrom == std::string::npos) continue;
        CHECK(e.redactedLength > 0);
        CHECK(e.redactedFrom + e.redactedLength <= e.request.size());
        CHECK(e.request.substr(e.redactedFrom, e.redactedLength) == std::string(e.redactedLength, '*'));
        std::string replaced = e.request;
        replaced.replace(e.redactedFrom, e.redactedLength, other);
        CHECK(matchesRequest(e, replaced));
        if (e.redactedFrom > 0) {
            replaced[0] = static_cast<char>(replaced[0] ^ 1);
            CHECK(!matchesRequest(e, replaced));
        }
    }
    std::vector<RecordedExchange> copy = exchanges;
    for (const RecordedExchange& e : exchanges) {
        RecordedExchange* taken = takeExchange(copy, e.request);
        CHECK(taken && taken->used && matchesRequest(*taken, e.request));
    }
}

void readText(const std::string& text, const std::string& other) {
    std::vector<RecordedExchange> exchanges;
    std::string error;
    if (parseRecording(text, "fuzz.trace", &exchanges, &error)) checkRecording(exchanges, other);
    else CHECK(error.compare(0, 10, "fuzz.trace") == 0);
}

std::FILE* gFile = std::tmpfile();

void writeAndRead(FuzzedDataProvider& input) {
    const int fd = fileno(gFile);
    CHECK(::ftruncate(fd, 0) == 0);
    CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    CHECK(beginSessionTrace(fd, "ostrakan-sim fuzz"));
    struct Burst {
        bool request;
        std::string bytes;
    };
    std::vector<Burst> bursts;
    const int count = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count; ++i) {
        Burst b{input.ConsumeBool(), input.ConsumeRandomLengthString(700)};
        writeTrace(fd, b.request ? "RX" : "TX", reinterpret_cast<const std::uint8_t*>(b.bytes.data()),
                   b.bytes.size());
        bursts.push_back(std::move(b));
    }
    endSessionTrace(fd);

    const off_t end = ::lseek(fd, 0, SEEK_END);
    std::string text(static_cast<std::size_t>(end), '\0');
    CHECK(::pread(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));

    bool anyRequest = false;
    std::vector<std::string> expected;  // each request's bytes as the trace shows them
    for (Burst& b : bursts) {
        std::size_t begin = 0, length = 0;
        if (findTraceSecret(reinterpret_cast<const std::uint8_t*>(b.bytes.data()), b.bytes.size(), &begin,
                            &length)) {
            CHECK(begin + length <= b.bytes.size());
            b.bytes.replace(begin, length, std::string(length, '*'));
        }
        if (b.request) {
            anyRequest = true;
            expected.push_back(b.bytes);
        }
    }
    std::vector<RecordedExchange> exchanges;
    std::string error;
    const bool read = parseRecording(text, "fuzz.trace", &exchanges, &error);
    CHECK(read == anyRequest);
    if (!read) return;
    CHECK(exchanges.size() == expected.size());
    std::size_t replies = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        CHECK(exchanges[i].request == expected[i]);
        replies += exchanges[i].replies.size();
    }
    // Every reply after the first request belongs to one.
    std::size_t after = 0;
    bool seen = false;
    for (const Burst& b : bursts) {
        if (b.request) seen = true;
        else if (seen) ++after;
    }
    CHECK(replies == after);
    checkRecording(exchanges, "other");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        readText(text, text.substr(0, text.size() % 7));
        return 0;
    }
    FuzzedDataProvider input(data + 1, size - 1);
    writeAndRead(input);
    return 0;
}
