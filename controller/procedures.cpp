#include "controller/procedures.h"

#include <cstring>

#include "app/core.h"
#include "app/reply_flags.h"
#include "controller/frames.h"

namespace ostrakan {

const ControllerProcedureInfo kControllerProcedures[kControllerProcedureCount] = {
    {"readPeriod", kReadPeriod, ControllerOp::ReadValue, kSelectPeriod, kPeriodField},
    {"writePeriod", kWritePeriod, ControllerOp::WriteValue, kKindPeriod, kPeriodField},
    {"readAddress", kReadAddress, ControllerOp::ReadValue, kSelectAddress, kAddressField},
    {"writeAddress", kWriteAddress, ControllerOp::WriteValue, kKindAddress, kAddressField},
    {"readPhone1", kReadPhone1, ControllerOp::ReadPhone, kSelectPhone1, kPhone1Field},
    {"writePhone1", kWritePhone1, ControllerOp::WritePhone, kSlotPhone1, kPhone1Field},
    {"readPhone2", kReadPhone2, ControllerOp::ReadPhone, kSelectPhone2, kPhone2Field},
    {"writePhone2", kWritePhone2, ControllerOp::WritePhone, kSlotPhone2, kPhone2Field},
    {"readSmsPhone", kReadSmsPhone, ControllerOp::ReadPhone, kSelectSmsPhone, kSmsPhoneField},
    {"writeSmsPhone", kWriteSmsPhone, ControllerOp::WritePhone, kSlotSmsPhone, kSmsPhoneField},
    {"readChannels", kReadChannels, ControllerOp::ReadChannels, kSelectChannels, -1},
    {"writeChannels", kWriteChannels, ControllerOp::WriteChannels, 0, -1},
};

namespace {

bool isRead(ControllerOp op) {
    return op == ControllerOp::ReadValue || op == ControllerOp::ReadPhone ||
           op == ControllerOp::ReadChannels;
}

// Packs the 93 check boxes, queried in id order 3047..3139.
void packChannels(Window& window, std::uint8_t* channelBytes) {
    std::memset(channelBytes, 0, kChannelCount);
    const struct {
        int (*id)(int);
        std::uint8_t bit;
    } columns[] = {{channelAId, kChannelA}, {channelTId, kChannelT}, {channelBxId, kChannelBx}};
    for (const auto& column : columns)
        for (int n = 1; n <= static_cast<int>(kChannelCount); ++n)
            if (window.checkState(column.id(n)) == Checked) channelBytes[n - 1] |= column.bit;
}

}  // namespace

void ControllerProcedure::run(Core& core) {
    switch (step_) {
    case kIdle:
        if (!core.requests.isSet(info_->request)) return;
        if (core.requests.anyOtherSet(info_->request)) {
            core.requests.lower(info_->request);  // dropped without a word
            return;
        }
        step_ = kSend;
        return;
    case kSend:
        send(core);
        return;
    case kWait:
        wait(core);
        return;
    default:
        core.requests.lower(info_->request);
        step_ = kIdle;
        return;
    }
}

void ControllerProcedure::send(Core& core) {
    std::uint8_t frame[kFrameBufferSize];
    std::size_t size = 0;
    switch (info_->op) {
    case ControllerOp::ReadValue:
    case ControllerOp::ReadPhone:
    case ControllerOp::ReadChannels:
        size = buildReadRequest(info_->code, frame);
        break;
    case ControllerOp::WriteValue:
    case ControllerOp::WritePhone: {
        TextField& field = core.controllerPanel.parameterFields[info_->field];
        std::uint8_t text[TextField::kByteCapacity] = {};
        field.selectBytes();
        field.readControl();
        const std::size_t n = field.copyOut(text);
        size = info_->op == ControllerOp::WriteValue ? buildValueWrite(info_->code, text, n, frame)
                                                     : buildPhoneWrite(info_->code, text, n, frame);
        break;
    }
    case ControllerOp::WriteChannels: {
        std::uint8_t channelBytes[kChannelCount];
        packChannels(core.window, channelBytes);
        size = buildChannelWrite(channelBytes, frame);
        break;
    }
    }
    if (size == 0) {  // refused text: nothing is sent or shown
        step_ = kFinish;
        return;
    }
    putFrame(core.link, frame, size);
    core.line.handOff();
    if (isRead(info_->op)) {
        deadline_ = deadlineAfter(core.tickCounter, kReplyWait);
        core.replyFlags &= static_cast<std::uint8_t>(~kFrameBit);
    } else {
        deadline_ = deadlineAfter(core.tickCounter, kHoldWait);
    }
    step_ = kWait;
}

void ControllerProcedure::wait(Core& core) {
    // The time test comes first: a reply seen as the deadline passes is too late.
    if (deadlinePassed(deadline_, core.tickCounter)) {
        step_ = kFinish;
        return;
    }
    if (!isRead(info_->op) || !(core.replyFlags & kFrameBit)) return;
    takeReply(core);
    step_ = kFinish;
}

void ControllerProcedure::takeReply(Core& core) {
    switch (info_->op) {
    case ControllerOp::ReadValue: {
        std::uint8_t value = 0;
        if (!decodeValueReply(core.link, &value)) return;
        std::uint8_t digits[3];
        valueToDigits(value, digits);
        TextField& field = core.controllerPanel.parameterFields[info_->field];
        field.selectBytes();
        field.assign(digits, 3);
        field.showInControl();
        return;
    }
    case ControllerOp::ReadPhone: {
        const std::uint8_t* number = nullptr;
        std::size_t n = 0;
        if (!decodePhoneReply(core.link, &number, &n)) return;
        TextField& field = core.controllerPanel.parameterFields[info_->field];
        field.selectBytes();
        field.assign(number, n);
        field.showInControl();
        return;
    }
    case ControllerOp::ReadChannels: {
        std::uint8_t channelBytes[kChannelCount];
        const std::size_t n = decodeChannelReply(core.link, channelBytes);
        // Column by column, as the grid is set: all "A", then all "T", then all "BX".
        for (std::size_t k = 1; k <= n; ++k)
            core.window.setCheckState(channelAId(static_cast<int>(k)),
                                      (channelBytes[k - 1] & kChannelA) ? Checked : Unchecked);
        for (std::size_t k = 1; k <= n; ++k)
            core.window.setCheckState(channelTId(static_cast<int>(k)),
                                      (channelBytes[k - 1] & kChannelT) ? Checked : Unchecked);
        for (std::size_t k = 1; k <= n; ++k)
            core.window.setCheckState(channelBxId(static_cast<int>(k)),
                                      (channelBytes[k - 1] & kChannelBx) ? Checked : Unchecked);
        return;
    }
    default:
        return;
    }
}

}  // namespace ostrakan
