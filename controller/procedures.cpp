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

// The grid's columns in id order, each with its bit of the channel byte.
const struct ChannelColumn {
    int (*id)(int channel);
    std::uint8_t bit;
} kChannelColumns[] = {{channelAId, kChannelA}, {channelTId, kChannelT}, {channelBxId, kChannelBx}};

// Packs the 93 check boxes, queried in id order 3047..3139.
void packChannels(Window& window, std::uint8_t* channelBytes) {
    std::memset(channelBytes, 0, kChannelCount);
    for (const ChannelColumn& column : kChannelColumns)
        for (int n = 1; n <= static_cast<int>(kChannelCount); ++n)
            if (window.checkState(column.id(n)) == Checked) channelBytes[n - 1] |= column.bit;
}

// Sets the boxes of the first `count` channels column by column, as the grid is
// read: all "A", then all "T", then all "BX".
void unpackChannels(Window& window, const std::uint8_t* channelBytes, std::size_t count) {
    for (const ChannelColumn& column : kChannelColumns)
        for (std::size_t n = 1; n <= count; ++n)
            window.setCheckState(column.id(static_cast<int>(n)),
                                 (channelBytes[n - 1] & column.bit) ? Checked : Unchecked);
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
        core.controllerPanel.parameterFields[info_->field].showBytes(digits, 3);
        return;
    }
    case ControllerOp::ReadPhone: {
        const std::uint8_t* number = nullptr;
        std::size_t n = 0;
        if (!decodePhoneReply(core.link, &number, &n)) return;
        core.controllerPanel.parameterFields[info_->field].showBytes(number, n);
        return;
    }
    case ControllerOp::ReadChannels: {
        std::uint8_t channelBytes[kChannelCount];
        unpackChannels(core.window, channelBytes, decodeChannelReply(core.link, channelBytes));
        return;
    }
    default:
        return;
    }
}

}  // namespace ostrakan
