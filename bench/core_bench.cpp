// What the window's thread spends on the line's traffic: the reply classifier and
// the controller reply decoders on typical and worst-case bursts, and one idle
// tick of the fourteen procedures. Figures only; nothing here is a test.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "app/core.h"
#include "app/headless_window.h"
#include "app/reply_classifier.h"
#include "controller/frames.h"
#include "serial/null_line.h"
#include "serial/link_buffers.h"

namespace ostrakan {
namespace {

// A port that is never open: hand-offs go nowhere, as with no port in the window.
// One started core on a headless window, so that the classifier's extractions
// show their values in real (in-memory) controls, as in the command-line tool.
struct Bench {
    HeadlessWindow window;
    LinkBuffers link;
    NullLine line;
    Core core{window, line, link};

    Bench() { core.startUp(); }

    // The reader's part: the burst at offset 0 and its length.
    void receive(const std::string& burst) {
        std::memcpy(link.receiveBuffer, burst.data(), burst.size());
        link.receiveLength.store(static_cast<std::uint32_t>(burst.size()));
    }
};

Bench& bench() {
    static const std::unique_ptr<Bench> b = std::make_unique<Bench>();
    return *b;
}

const std::string kHead = "\x0A\x21\xAA";

std::string valueReply() { return kHead + "A" + '\x78' + "\r\n"; }
std::string phoneReply() { return kHead + "0TEL" + "89161234567" + "\r\n"; }
// Frame head, selector and the 31 channel bytes: offsets 0..34.
std::string channelReply() {
    std::string s = kHead + "B";
    for (int k = 0; k < 31; ++k) s += static_cast<char>(k & 7);
    return s;
}
std::string okReply() { return "\r\nOK\r\n"; }
std::string sicsListing() {
    return "\r\n^SICS: 0,\"conType\",\"GPRS0\"\r\n^SICS: 0,\"user\",\"ivan\"\r\n"
           "^SICS: 0,\"passwd\",\"*****\"\r\n^SICS: 0,\"apn\",\"internet\"\r\n\r\nOK\r\n";
}
// All ten service profiles, as the modem lists them; 0 and 9 set up by the program.
std::string sissListing() {
    std::string s = "\r\n";
    for (int i = 0; i < 10; ++i) {
        const std::string n = std::to_string(i);
        const bool used = i == 0 || i == 9;
        s += "^SISS: " + n + ",\"srvType\",\"" + (used ? "Socket" : "none") + "\"\r\n";
        if (i == 0) s += "^SISS: 0,\"address\",\"socktcp://listener:65534\"\r\n";
        if (i == 9) s += "^SISS: 9,\"address\",\"socktcp://10.9.8.7:65534\"\r\n";
    }
    return s + "\r\nOK\r\n";
}

// 600 bytes: a listing's head, then keys that differ from the searched key only
// in their last byte, so that every one is compared in full.
std::string nearMisses(const std::string& head, const std::string& key) {
    std::string s = head;
    while (s.size() + key.size() <= kReceiveBufferSize) s += key.substr(0, key.size() - 1) + "X";
    s.resize(kReceiveBufferSize, 'X');
    return s;
}
std::string sicsNearMisses() {
    return nearMisses("\r\n^SICS:", "^SICS: 0,\"user\",\"").substr(0, 300) +
           nearMisses("", "^SICS: 0,\"apn\",\"").substr(0, 300);
}
std::string sissNearMisses() { return nearMisses("\r\n^SISS:", "^SISS: 9,\"address\",\""); }

// 600 bytes of line noise, after the given head (fixed seed: the same every run).
std::string noise(const std::string& head) {
    std::mt19937 random(1);
    std::string s = head;
    while (s.size() < kReceiveBufferSize) s += static_cast<char>(random() & 0xFF);
    return s;
}

void classify(benchmark::State& state, const std::string& burst) {
    Bench& b = bench();
    b.receive(burst);
    std::uint8_t flags = 0;
    for (auto _ : state) {
        // The classifier reads the buffer and resets only the length.
        b.link.receiveLength.store(static_cast<std::uint32_t>(burst.size()));
        flags = 0;
        classifyReply(b.link, b.line, flags, {b.core.ipAddressField, b.core.apnField, b.core.userField});
        benchmark::DoNotOptimize(flags);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * burst.size()));
}

BENCHMARK_CAPTURE(classify, value_reply, valueReply());
BENCHMARK_CAPTURE(classify, phone_reply, phoneReply());
BENCHMARK_CAPTURE(classify, channel_reply, channelReply());
BENCHMARK_CAPTURE(classify, ok, okReply());
BENCHMARK_CAPTURE(classify, sics_listing, sicsListing());
BENCHMARK_CAPTURE(classify, siss_listing, sissListing());
BENCHMARK_CAPTURE(classify, worst_sics_near_misses_600, sicsNearMisses());
BENCHMARK_CAPTURE(classify, worst_siss_near_misses_600, sissNearMisses());
BENCHMARK_CAPTURE(classify, worst_noise_600, noise(""));
BENCHMARK_CAPTURE(classify, worst_noise_after_sics_head_600, noise("\r\n^SICS:"));
BENCHMARK_CAPTURE(classify, worst_noise_after_siss_head_600, noise("\r\n^SISS:"));

// What a read procedure does with its reply, classifier excluded.
void decodeValue(benchmark::State& state) {
    Bench& b = bench();
    const std::string burst = valueReply();
    b.receive(burst);
    b.link.replyLength = static_cast<std::uint32_t>(burst.size());
    std::uint8_t digits[3];
    for (auto _ : state) {
        std::uint8_t v = 0;
        benchmark::DoNotOptimize(decodeValueReply(b.link, &v));
        valueToDigits(v, digits);
        benchmark::DoNotOptimize(digits);
    }
}
BENCHMARK(decodeValue);

void decodePhone(benchmark::State& state) {
    Bench& b = bench();
    const std::string burst = phoneReply();
    b.link.replyLength = static_cast<std::uint32_t>(burst.size());
    for (auto _ : state) {
        // The decoder overwrites the burst's line ends, so each run gets a fresh copy.
        std::memcpy(b.link.receiveBuffer, burst.data(), burst.size());
        const std::uint8_t* number = nullptr;
        std::size_t n = 0;
        benchmark::DoNotOptimize(decodePhoneReply(b.link, &number, &n));
        benchmark::DoNotOptimize(number);
    }
}
BENCHMARK(decodePhone);

void decodeChannels(benchmark::State& state) {
    Bench& b = bench();
    const std::string burst = channelReply();
    b.receive(burst);
    b.link.replyLength = static_cast<std::uint32_t>(burst.size());
    std::uint8_t channels[kChannelCount];
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeChannelReply(b.link, channels));
        benchmark::DoNotOptimize(channels);
    }
}
BENCHMARK(decodeChannels);

// Every 54 ms with nothing requested: fourteen procedures find their flags low.
void idleTick(benchmark::State& state) {
    Bench& b = bench();
    for (auto _ : state) b.core.tick();
    benchmark::DoNotOptimize(b.core.tickCounter);
}
BENCHMARK(idleTick);

}  // namespace
}  // namespace ostrakan
