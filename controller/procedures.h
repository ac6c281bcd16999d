// The ten parameter procedures and the two channel procedures: one four-step
// machine (idle, send, wait, finish) driven once per tick, described by a table.
#pragma once

#include <cstdint>

#include "app/requests.h"
#include "timing/tick.h"

namespace ostrakan {

class Core;

enum class ControllerOp : std::uint8_t {
    ReadValue,      // period, address: reply byte 4 as three digits
    WriteValue,     // exactly three digits, else nothing is sent
    ReadPhone,      // reply text from offset 7
    WritePhone,     // number text + CR LF; over 18 bytes nothing is sent
    ReadChannels,   // 93 check boxes from reply bytes 4..34
    WriteChannels,  // 93 check boxes packed into 31 channel bytes
};

struct ControllerProcedureInfo {
    const char* name;
    Request request;
    ControllerOp op;
    std::uint8_t code;  // selector, value kind or phone slot
    int field;          // parameter field index, -1 for the channel grid
};

enum ControllerStep : std::uint8_t { kIdle = 0, kSend = 1, kWait = 2, kFinish = 3 };

class ControllerProcedure {
public:
    explicit ControllerProcedure(const ControllerProcedureInfo& info) : info_(&info) {}

    void run(Core& core);
    // The line is gone: a step waiting for its deadline sees it passed on the next tick.
    void endOnLoss(Tick now) {
        if (step_ == kWait) deadline_ = now - 1;
    }

    std::uint8_t step() const { return step_; }
    Tick deadline() const { return deadline_; }
    const ControllerProcedureInfo& info() const { return *info_; }

private:
    void send(Core& core);
    void wait(Core& core);
    void takeReply(Core& core);

    const ControllerProcedureInfo* info_;
    std::uint8_t step_ = kIdle;
    Tick deadline_ = 0;
};

constexpr int kControllerProcedureCount = 12;
// In tick order: readPeriod, writePeriod, ..., readChannels, writeChannels.
extern const ControllerProcedureInfo kControllerProcedures[kControllerProcedureCount];

}  // namespace ostrakan
