// The simulator's request parser: the device model fed arbitrary bursts.
//
// Input: a byte choosing a blank or a field-returned unit, then bursts as
// backslash-ended pieces. Each burst is split into requests and each request is
// answered in turn, so state carries across (echo, stored profiles, registers).
// Checked, beside the sanitizers:
// - the split: a frame is one request; modem text loses only its line ends and
//   no request is empty;
// - the names fault options match against;
// - every answer reads back through the program's own classifier and decoders:
//   a read's answer decodes to the model's register, phone or channels; every
//   modem answer that is not an echo is a shape the classifier knows; the SICS
//   and SISS listings give the user, APN and address the model holds;
// - the channel registers keep only the three channel bits.
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
#include "tools/sim/device_model.h"

using namespace ostrakan;
using ostrakan::sim::DeviceModel;

namespace {

const std::string kHead("\x0A\x21\xAA", 3);
const char kOld[] = "old";

// The program's side of the line: the receive buffer and the three modem fields.
struct Program {
    HeadlessWindow window;
    TextField ip, apn, user;
    LinkBuffers link;
    NullLine line;
    std::uint8_t flags = 0;
    Program() {
        ip.createMultilineEdit(0, 0, 1, 1, window, 3021);
        apn.createEdit(0, 0, 1, 1, window, 3022);
        user.createEdit(0, 0, 1, 1, window, 3023);
    }
    // The answer as one burst (the reader keeps at most 600 bytes), classified.
    std::uint8_t receive(const std::string& answer) {
        for (TextField* f : {&ip, &apn, &user}) f->showBytes(kOld);
        const std::size_t n = answer.size() < kReceiveBufferSize ? answer.size() : kReceiveBufferSize;
        std::memcpy(link.receiveBuffer, answer.data(), n);
        link.receiveLength.store(static_cast<std::uint32_t>(n));
        flags = 0;
        classifyReply(link, line, flags, ClassifierTargets{ip, apn, user});
        return flags;
    }
    static std::string bytesOf(const TextField& f) {
        return std::string(reinterpret_cast<const char*>(f.data()), f.length());
    }
};

Program* program;

bool isFrame(const std::string& s) { return s.compare(0, 3, kHead) == 0; }

// What the program shows of a value the modem lists: the field keeps its old text
// for an empty value and takes at most 255 bytes.
std::string listed(const std::string& value) {
    return value.empty() ? kOld : value.substr(0, TextField::kByteCapacity);
}

void checkFrameAnswer(const DeviceModel& model, const std::string& name, const std::string& answer) {
    CHECK(answer.empty() || isFrame(answer));
    if (name.compare(0, 5, "read:") != 0 || name == "read:?") return;
    CHECK(program->receive(answer) == kFrameBit);
    if (name == "read:period" || name == "read:address") {
        std::uint8_t value = 0;
        CHECK(decodeValueReply(program->link, &value));
        CHECK(value == (name == "read:period" ? model.controller.period : model.controller.address));
    } else if (name == "read:channels") {
        std::uint8_t channels[kChannelCount];
        CHECK(decodeChannelReply(program->link, channels) == kChannelCount);
        CHECK(std::memcmp(channels, model.controller.channels, kChannelCount) == 0);
    } else {
        const std::string& phone = model.controller.phones[name == "read:phone1" ? 0
                                                           : name == "read:phone2" ? 1 : 2];
        // The number ends at its first line end or zero, and within the 600 bytes kept.
        std::string expected = phone.substr(0, phone.find_first_of(std::string("\r\n\0", 3)));
        if (expected.size() > kReceiveBufferSize - 7) expected.resize(kReceiveBufferSize - 7);
        const std::uint8_t* number = nullptr;
        std::size_t n = 0;
        CHECK(decodePhoneReply(program->link, &number, &n));
        CHECK(std::string(reinterpret_cast<const char*>(number), n) == expected);
    }
}

void checkModemAnswer(const DeviceModel& model, const std::string& request, bool echoed,
                      const std::string& answer) {
    if (request == "+++") {
        CHECK(answer.empty());
        return;
    }
    const bool error = answer.size() >= 9 && answer.compare(answer.size() - 9, 9, "\r\nERROR\r\n") == 0;
    const bool ok = answer.size() >= 6 && answer.compare(answer.size() - 6, 6, "\r\nOK\r\n") == 0;
    CHECK(ok || error);
    if (echoed) {
        CHECK(answer.compare(0, request.size() + 1, request + "\r") == 0);
        if (request == "ATE0") CHECK(program->receive(answer) == kOkBit);
        return;
    }
    const std::uint8_t bit = program->receive(answer);
    CHECK(bit != 0);  // the program knows every shape the modem answers with
    if (bit == kSicsBit && answer.size() <= kReceiveBufferSize) {
        const sim::ConnectionProfile& p = model.modem.connection;
        // A value with a quote in it can hold a later key: then the listing is
        // ambiguous and the first key found wins.
        const auto plain = [](const std::string& v) { return v.find('"') == std::string::npos; };
        if (!p.conType.empty() && plain(p.conType) && plain(p.user)) {
            CHECK(Program::bytesOf(program->user) == listed(p.user));
            if (plain(p.apn)) CHECK(Program::bytesOf(program->apn) == listed(p.apn));
        }
    }
    if (bit == kSissBit && answer.size() <= kReceiveBufferSize) {
        // An address as the setup procedure writes it gives back the bare address.
        const sim::ServiceProfile& p = model.modem.services[9];
        const std::string prefix = "socktcp://", port = ":65534";
        bool quotesBefore = false;
        for (int i = 0; i < 9; ++i)
            quotesBefore = quotesBefore || model.modem.services[i].srvType.find('"') != std::string::npos ||
                           model.modem.services[i].address.find('"') != std::string::npos;
        const std::string& a = p.address;
        if (!quotesBefore && !p.srvType.empty() && p.srvType.find('"') == std::string::npos &&
            a.find('"') == std::string::npos && a.size() > prefix.size() + port.size() &&
            a.compare(0, prefix.size(), prefix) == 0 &&
            a.compare(a.size() - port.size(), port.size(), port) == 0)
            CHECK(Program::bytesOf(program->ip) ==
                  listed(a.substr(prefix.size(), a.size() - prefix.size() - port.size())));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    program = new Program;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    DeviceModel model(fdp.ConsumeBool());
    while (fdp.remaining_bytes() > 0) {
        const std::string burst = fdp.ConsumeRandomLengthString(1000);
        const auto requests = DeviceModel::splitRequests(burst);
        if (isFrame(burst)) {
            CHECK(requests.size() == 1 && requests[0] == burst);
        } else {
            std::string rest;
            for (char c : burst)
                if (c != '\r' && c != '\n') rest += c;
            std::string joined;
            for (const std::string& r : requests) {
                CHECK(!r.empty());
                CHECK(r.find_first_of("\r\n") == std::string::npos);
                joined += r;
            }
            CHECK(joined == rest);
        }
        for (const std::string& request : requests) {
            const std::string name = DeviceModel::nameOf(request);
            const bool echoed = model.modem.echo;
            const std::string answer = model.answer(request);
            if (isFrame(request)) {
                CHECK(name.compare(0, 5, "read:") == 0 || name.compare(0, 6, "write:") == 0 ||
                      name == "frame:?");
                checkFrameAnswer(model, name, answer);
            } else {
                CHECK(name == request);
                checkModemAnswer(model, request, echoed, answer);
            }
            for (std::uint8_t c : model.controller.channels) CHECK((c & ~0x07) == 0);
        }
    }
    return 0;
}
