// The code that reads whatever a device sends: the reply classifier (shapes, and
// the user, APN and address copies into the modem fields) and the controller's
// reply decoders (value, phone number, channels).
//
// Input: the burst, the bytes left in the receive buffer past it from earlier
// bursts, the three fields' previous texts, then (from the end) the reply flags
// already set, the fields' views and an optional raw receive length.
//
// Each input runs twice, the second time with every byte past the burst
// complemented. Everything seen (flags, fields, what the controls show, every
// decoder's result) must be the same: nothing may read past the burst. Beside that
// the results are checked against the burst itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/headless_window.h"
#include "app/reply_classifier.h"
#include "app/reply_flags.h"
#include "controller/frames.h"
#include "fuzz/fuzz_check.h"
#include "serial/null_line.h"
#include "serial/link_buffers.h"

using namespace ostrakan;

namespace {

struct FieldState {
    bool byteMode;
    std::string bytes;  // the selected view's bytes
    std::string shown;  // the control's text
};

struct Outcome {
    std::uint8_t flags;
    std::uint32_t replyLength;
    FieldState fields[3];  // IP Address, APN, User
    bool valueOk;
    std::uint8_t value;
    std::size_t channelCount;
    std::uint8_t channels[kChannelCount];
    bool phoneOk;
    std::string phone;
};

struct Input {
    std::string burst;
    std::string stale;
    std::string oldTexts[3];
    std::uint8_t flags;
    std::uint8_t textViews;  // bit i: field i starts in its text view
    bool rawLength;
    std::uint32_t receiveLength;
};

// One world per run, built once: a window and its three modem fields.
struct World {
    HeadlessWindow window;
    TextField fields[3];
    LinkBuffers link;
    World() {
        fields[0].createMultilineEdit(0, 0, 1, 1, window, 3021);
        fields[1].createEdit(0, 0, 1, 1, window, 3022);
        fields[2].createEdit(0, 0, 1, 1, window, 3023);
    }
};

FieldState stateOf(const World& w, int i) {
    const TextField& f = w.fields[i];
    return {f.byteMode(), std::string(reinterpret_cast<const char*>(f.data()), f.length()),
            w.window.textOf(f.control())};
}

bool sameField(const FieldState& a, const FieldState& b) {
    return a.byteMode == b.byteMode && a.bytes == b.bytes && a.shown == b.shown;
}

bool contains(const std::uint8_t* hay, std::size_t n, const std::string& needle) {
    if (needle.empty()) return true;
    for (std::size_t i = 0; i + needle.size() <= n; ++i)
        if (std::memcmp(hay + i, needle.data(), needle.size()) == 0) return true;
    return false;
}

// Runs the classifier and every decoder on the input; `flip` complements the
// bytes past the burst.
Outcome run(World& w, const Input& in, bool flip) {
    LinkBuffers& link = w.link;
    std::uint8_t* buffer = link.receiveBuffer;
    std::memset(buffer, 0, kReceiveBufferSize);
    const std::size_t burstBytes = in.burst.size() < kReceiveBufferSize ? in.burst.size()
                                                                         : kReceiveBufferSize;
    std::memcpy(buffer, in.burst.data(), burstBytes);
    for (std::size_t i = 0; i < in.stale.size() && burstBytes + i < kReceiveBufferSize; ++i)
        buffer[burstBytes + i] = static_cast<std::uint8_t>(in.stale[i]);
    const std::uint32_t receiveLength =
        in.rawLength ? in.receiveLength : static_cast<std::uint32_t>(burstBytes);
    const std::size_t burst = receiveLength < kReceiveBufferSize ? receiveLength
                                                                 : kReceiveBufferSize;
    if (flip)
        for (std::size_t i = burst; i < kReceiveBufferSize; ++i) buffer[i] = ~buffer[i];
    std::uint8_t past[kReceiveBufferSize];
    std::memcpy(past, buffer, kReceiveBufferSize);
    link.receiveLength.store(receiveLength);
    link.gapTimerRunning.store(1);
    link.replyLength = 0xDEADBEEF;

    FieldState before[3];
    for (int i = 0; i < 3; ++i) {
        TextField& f = w.fields[i];
        if (in.textViews & (1u << i))
            f.selectText();
        else
            f.selectBytes();
        f.assign(in.oldTexts[i].data(), in.oldTexts[i].size());
        f.showInControl();
        before[i] = stateOf(w, i);
    }

    NullLine line;
    Outcome out{};
    out.flags = in.flags;
    classifyReply(link, line, out.flags, ClassifierTargets{w.fields[0], w.fields[1], w.fields[2]});

    // The burst has ended and been handed to the decoders.
    CHECK(line.gapTimerStops == 1);
    CHECK(link.receiveLength.load() == 0);
    CHECK(link.gapTimerRunning.load() == 0);
    CHECK(link.replyLength == burst);
    CHECK(std::memcmp(buffer, past, kReceiveBufferSize) == 0);
    out.replyLength = link.replyLength;

    // Bits are only added, one per burst, never 0x40 or 0x80.
    const std::uint8_t added = static_cast<std::uint8_t>(out.flags & ~in.flags);
    CHECK((out.flags & in.flags) == in.flags);
    CHECK((added & (added - 1)) == 0);
    CHECK((added & 0xC0) == 0);
    // A frame is recognised by its head alone.
    if (burst >= 3 && std::memcmp(buffer, kFrameHead, 3) == 0) CHECK((out.flags & kFrameBit) != 0);

    for (int i = 0; i < 3; ++i) {
        out.fields[i] = stateOf(w, i);
        if (sameField(out.fields[i], before[i])) continue;
        // Only a configuration listing writes a field, and only the fields its
        // keys name: SICS the APN and User, SISS the IP Address.
        const char* listing = i == 0 ? "\r\n^SISS:" : "\r\n^SICS:";
        CHECK(burst >= 8 && std::memcmp(buffer, listing, 8) == 0);
        const FieldState& now = out.fields[i];
        CHECK(now.byteMode);
        // An empty value leaves User and APN alone; an address exactly as long as
        // the cut empties the IP Address.
        CHECK(i == 0 || !now.bytes.empty());
        CHECK(now.bytes.size() <= TextField::kByteCapacity);
        CHECK(now.shown.size() == now.bytes.size());
        // The copied text lies inside the burst.
        CHECK(contains(buffer, burst, now.bytes));
    }

    // Decoders, as the controller procedures call them on the next tick. The
    // phone decoder rewrites line ends inside the burst, so it goes last.
    std::uint8_t value = 0;
    out.valueOk = decodeValueReply(link, &value);
    CHECK(out.valueOk == (burst > 4));
    if (out.valueOk) CHECK(value == buffer[4]);
    out.value = value;

    out.channelCount = decodeChannelReply(link, out.channels);
    CHECK(out.channelCount == (burst > 4 ? (burst - 4 < kChannelCount ? burst - 4 : kChannelCount)
                                         : 0));
    CHECK(std::memcmp(out.channels, buffer + 4, out.channelCount) == 0);

    const std::uint8_t* number = nullptr;
    std::size_t n = 0;
    out.phoneOk = decodePhoneReply(link, &number, &n);
    if (out.phoneOk) {
        CHECK(number == buffer + 7);
        CHECK(7 + n <= burst);
        CHECK(n <= kReceiveBufferSize - 7);
        for (std::size_t i = 0; i < n; ++i)
            CHECK(number[i] != 0 && number[i] != 0x0D && number[i] != 0x0A);
        // The number is the burst's own bytes, up to its first line end or zero.
        CHECK(std::memcmp(number, past + 7, n) == 0);
        CHECK(7 + n == burst || past[7 + n] == 0 || past[7 + n] == 0x0D || past[7 + n] == 0x0A);
        out.phone.assign(reinterpret_cast<const char*>(number), n);
    }
    // Only line ends inside the burst were touched.
    CHECK(std::memcmp(buffer + burst, past + burst, kReceiveBufferSize - burst) == 0);
    for (std::size_t i = 0; i < burst; ++i)
        CHECK(buffer[i] == past[i] || (buffer[i] == 0 && (past[i] == 0x0D || past[i] == 0x0A)));
    return out;
}

World* worlds[2];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Built once: a window holds 128 KiB of controls.
    worlds[0] = new World;
    worlds[1] = new World;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    Input in;
    in.burst = fdp.ConsumeRandomLengthString(kReceiveBufferSize);
    in.stale = fdp.ConsumeRandomLengthString(kReceiveBufferSize);
    for (std::string& t : in.oldTexts) t = fdp.ConsumeRandomLengthString(TextField::kTextCapacity + 10);
    in.flags = fdp.ConsumeIntegral<std::uint8_t>();
    in.textViews = fdp.ConsumeIntegral<std::uint8_t>();
    // Now and then a length the reader never stores (past 600), to try the cut.
    in.rawLength = fdp.ConsumeIntegralInRange<std::uint8_t>(0, 15) == 15;
    in.receiveLength = fdp.ConsumeIntegral<std::uint32_t>();

    const Outcome a = run(*worlds[0], in, false);
    const Outcome b = run(*worlds[1], in, true);
    CHECK(a.flags == b.flags);
    CHECK(a.replyLength == b.replyLength);
    for (int i = 0; i < 3; ++i) CHECK(sameField(a.fields[i], b.fields[i]));
    CHECK(a.valueOk == b.valueOk && a.value == b.value);
    CHECK(a.channelCount == b.channelCount);
    CHECK(std::memcmp(a.channels, b.channels, a.channelCount) == 0);
    CHECK(a.phoneOk == b.phoneOk && a.phone == b.phone);
    return 0;
}
