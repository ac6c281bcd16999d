#include "modem/procedures.h"

#include <cstring>

#include "app/core.h"
#include "app/reply_flags.h"
#include "modem/commands.h"
#include "resources/resource.h"

namespace ostrakan {

namespace {

constexpr std::uint8_t kOk = kOkBit;
constexpr std::uint8_t kBl = kBlankLineOkBit;
constexpr std::uint8_t kErr = kErrorBit;
constexpr const char* kOkText = "Ok!";
constexpr const char* kErrorText = "Error!";

// Step builders, named after the kinds of step the procedures are made of.
constexpr ModemStep idle() {
    return {ModemWait::None, 0, 0, nullptr, ModemAction::Advance, -1, 0, 0, 0, false, nullptr};
}
constexpr ModemStep send(int mark, int entry, std::uint8_t clears) {
    return {ModemWait::None, 0, 0, nullptr, ModemAction::Send, static_cast<std::int8_t>(mark),
            static_cast<std::uint8_t>(entry), clears, kReplyWait, false, nullptr};
}
constexpr ModemStep sendField(int mark, int entry) {
    ModemStep s = send(mark, entry, kBl | kErr);
    s.action = ModemAction::SendField;
    return s;
}
constexpr ModemStep escape() {  // "+++", then a fixed pause instead of a reply
    ModemStep s = send(-1, kEntryEscape, 0);
    s.waitTicks = kHoldWait;
    return s;
}
constexpr ModemStep pause() {
    return {ModemWait::Pause, 0, 0, nullptr, ModemAction::Advance, -1, 0, 0, 0, false, nullptr};
}
constexpr ModemStep wait(std::uint8_t accepts) {
    return {ModemWait::Reply, accepts, 0, nullptr, ModemAction::Advance, -1, 0, 0, 0, false, nullptr};
}
constexpr ModemStep after(ModemStep waitPart, ModemStep action) {
    action.wait = waitPart.wait;
    action.accepts = waitPart.accepts;
    action.failBits = waitPart.failBits;
    action.failText = waitPart.failText;
    return action;
}
constexpr ModemStep orFail(ModemStep s, std::uint8_t bits, const char* text) {
    s.failBits = bits;
    s.failText = text;
    return s;
}
constexpr ModemStep savingPanel(ModemStep s) {
    s.savePanelFirst = true;
    return s;
}
constexpr ModemStep finish(const char* text) {
    return {ModemWait::None, 0, 0, nullptr, ModemAction::Finish, -1, 0, 0, 0, false, text};
}

}  // namespace

const ModemStep kQuerySteps[kQueryStepCount] = {
    /* 0 */ idle(),  // start: interlock, mark 0, clearPanel
    /* 1 */ escape(),
    /* 2 */ after(pause(), send(-1, kEntryEchoOff, kOk)),
    /* 3 */ after(wait(kOk), send(1, kEntryLoadService0, kBl | kErr)),
    /* 4 */ orFail(after(wait(kBl), send(2, kEntryLoadService9, kBl)), kErr, "Empty0"),
    /* 5 */ orFail(after(wait(kBl), send(3, kEntryQueryService, kSissBit)), kErr, "Empty9"),
    /* 6 */ after(wait(kSissBit), send(0, kEntryQueryConnection, kSicsBit)),
    /* 7 */ after(wait(kSicsBit), finish(kOkText)),
};

const ModemStep kSetupSteps[kSetupStepCount] = {
    /* 0 */ idle(),  // start: interlock, path chosen by the check box
    // Full path: service profiles 0 (listener) and 9 (client), connection profile 0.
    /* 1 */ escape(),
    /* 2 */ pause(),
    /* 3 */ savingPanel(send(0, kEntryEchoOff, kOk)),
    /* 4 */ after(wait(kOk), send(1, kEntrySrvType0, kBl | kErr)),
    /* 5 */ wait(kBl | kErr),
    /* 6 */ send(2, kEntryAddress0, kBl | kErr),
    /* 7 */ wait(kBl | kErr),
    /* 8 */ send(3, kEntrySrvType9, kBl | kErr),
    /* 9 */ wait(kBl | kErr),
    /* 10 */ sendField(4, kEntryAddress9),
    /* 11 */ wait(kBl | kErr),
    /* 12 */ send(5, kEntryConType, kBl | kErr),
    /* 13 */ wait(kBl | kErr),
    /* 14 */ sendField(6, kEntryApn),
    /* 15 */ wait(kBl | kErr),
    /* 16 */ sendField(7, kEntryUser),
    /* 17 */ wait(kBl | kErr),
    /* 18 */ sendField(8, kEntryPassword),
    /* 19 */ wait(kBl | kErr),
    /* 20 */ send(9, kEntrySaveService0, kBl | kErr),
    /* 21 */ wait(kBl | kErr),
    /* 22 */ send(10, kEntrySaveService9, kBl | kErr),
    /* 23 */ wait(kBl | kErr),
    /* 24 */ send(11, kEntrySaveConnection0, kBl | kErr),
    /* 25 */ wait(kBl | kErr),
    /* 26 */ finish(kOkText),
    // Without-internet path: reset and store every profile, then plain modem settings.
    /* 27 */ escape(),
    /* 28 */ pause(),
    /* 29 */ send(0, 17, kBl | kErr),  // all,reset,0
    /* 30 */ wait(kBl | kErr),
    /* 31 */ send(1, 19, kBl | kErr),  // all,reset,1
    /* 32 */ wait(kBl | kErr),
    /* 33 */ send(2, 21, kBl | kErr),  // all,reset,2
    /* 34 */ wait(kBl | kErr),
    /* 35 */ send(3, 23, kBl | kErr),  // all,reset,3
    /* 36 */ wait(kBl | kErr),
    /* 37 */ send(4, 25, kBl | kErr),  // all,reset,4
    /* 38 */ wait(kBl | kErr),
    /* 39 */ send(5, 27, kBl | kErr),  // all,reset,5
    /* 40 */ wait(kBl | kErr),
    /* 41 */ send(6, 18, kBl | kErr),  // all,save,0
    /* 42 */ wait(kBl | kErr),
    /* 43 */ send(7, 20, kBl | kErr),  // all,save,1
    /* 44 */ wait(kBl | kErr),
    /* 45 */ send(8, 22, kBl | kErr),  // all,save,2
    /* 46 */ wait(kBl | kErr),
    /* 47 */ send(9, 24, kBl | kErr),  // all,save,3
    /* 48 */ wait(kBl | kErr),
    /* 49 */ send(10, 26, kBl | kErr),  // all,save,4
    /* 50 */ wait(kBl | kErr),
    /* 51 */ send(11, 28, kBl | kErr),  // all,save,5
    /* 52 */ wait(kBl | kErr),
    /* 53 */ send(12, 29, kBl | kErr),  // service,reset,6
    /* 54 */ wait(kBl | kErr),
    /* 55 */ send(13, 30, kBl | kErr),  // service,save,6
    /* 56 */ wait(kBl | kErr),
    /* 57 */ send(14, 31, kBl | kErr),  // service,reset,7
    /* 58 */ wait(kBl | kErr),
    /* 59 */ send(15, 32, kBl | kErr),  // service,save,7
    /* 60 */ wait(kBl | kErr),
    /* 61 */ send(16, 33, kBl | kErr),  // service,reset,8
    /* 62 */ wait(kBl | kErr),
    /* 63 */ send(17, 34, kBl | kErr),  // service,save,8
    /* 64 */ wait(kBl | kErr),
    /* 65 */ send(18, 35, kBl | kErr),  // service,reset,9
    /* 66 */ wait(kBl | kErr),
    /* 67 */ send(19, kEntrySaveService9, kBl | kErr),
    /* 68 */ wait(kBl),  // only a real OK: the profiles must be stored
    /* 69 */ send(20, kEntryEchoOff, kOk | kErr),
    /* 70 */ wait(kOk | kErr),
    /* 71 */ send(21, kEntryCmgf, kOk | kErr),
    /* 72 */ wait(kOk | kErr),
    /* 73 */ send(22, kEntryDtrIgnore, kOk | kErr),
    /* 74 */ wait(kOk | kErr),
    /* 75 */ send(23, kEntryStore, kOk | kErr),
    /* 76 */ after(wait(kOk | kErr), finish(kOkText)),
};

std::size_t progressMark(int k, char* text) {
    static const char kSpinner[4] = {'|', '/', '-', '\\'};
    std::size_t n = 0;
    for (int dots = k / 4; dots > 0; --dots) text[n++] = '.';
    text[n++] = kSpinner[k % 4];
    text[n] = 0;
    return n;
}

namespace {

TextField* fieldOfEntry(Core& core, int entry) {
    switch (entry) {
    case kEntryApn: return &core.apnField;
    case kEntryUser: return &core.userField;
    case kEntryPassword: return &core.passwordField;
    case kEntryAddress9: return &core.ipAddressField;
    default: return nullptr;
    }
}

// Takes the field's text as its control shows it now, in the view the field is in,
// and builds its command. False when the text is too long for the command buffer
// or holds a line break (CR, LF, or the 0x1A that ends a text): the modem would
// take the command as ended there, and the file could not keep the line.
bool buildFieldCommandOf(Core& core, int entry, std::uint8_t* command) {
    TextField& field = *fieldOfEntry(core, entry);
    field.readControl();
    std::uint8_t text[TextField::kTextCapacity] = {};
    const std::size_t n = field.copyOut(text);
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == '\r' || text[i] == '\n' || text[i] == 0x1A) return false;
    return buildFieldCommand(entry, text, n, command);
}

// Whether a full-path Write can run to its end as the entries stand: every field
// command fits, and the panel can be saved so that it loads back unchanged.
bool fullPathEntriesFit(Core& core) {
    std::uint8_t command[kCommandBufferSize];
    const int entries[] = {kEntryAddress9, kEntryApn, kEntryUser, kEntryPassword};
    for (int entry : entries)
        if (!buildFieldCommandOf(core, entry, command)) return false;
    std::uint8_t joined[kPanelFileLimit];
    std::size_t n = 0;
    return core.modemPanel.joinEntries(joined, &n);
}

void showMark(TextField& status, int k) {
    char mark[8];
    progressMark(k, mark);
    status.showBytes(mark);
}

}  // namespace

bool ModemProcedure::takesRequest(Core& core, Request own, Request other) {
    if (!core.requests.isSet(own)) return false;
    if (core.requests.isSet(other)) {
        core.requests.lower(own);  // the other modem procedure has it: dropped without a word
        return false;
    }
    return true;
}

void ModemProcedure::finish(Core& core, Request own, TextField& status, const char* text) {
    status.showBytes(text);
    core.requests.lower(own);
    step_ = 0;
    panelNotSaved_ = false;
}

void ModemProcedure::runStep(Core& core, const ModemStep* table, Request own, TextField& status) {
    const ModemStep& s = table[step_];
    switch (s.wait) {
    case ModemWait::None:
        break;
    case ModemWait::Pause:
        if (!deadlinePassed(deadline_, core.tickCounter)) return;
        break;
    case ModemWait::Reply:
        // The deadline is tested before the reply bits.
        if (deadlinePassed(deadline_, core.tickCounter)) {
            finish(core, own, status, kErrorText);
            return;
        }
        if (!(core.replyFlags & s.accepts)) {
            if (core.replyFlags & s.failBits) finish(core, own, status, s.failText);
            return;
        }
        break;
    }
    switch (s.action) {
    case ModemAction::Advance:
        ++step_;
        return;
    case ModemAction::Finish:  // always a success: failures finish above
        finish(core, own, status, panelNotSaved_ ? kNotSavedText : s.finishText);
        return;
    case ModemAction::Send:
    case ModemAction::SendField: {
        // Entries edited since step 0 so that they no longer fit: stop before this
        // step sends or saves anything. Commands already sent stay in the modem.
        if (s.savePanelFirst && !fullPathEntriesFit(core)) {
            finish(core, own, status, kErrorText);
            return;
        }
        std::uint8_t command[kCommandBufferSize];
        if (s.action == ModemAction::SendField && !buildFieldCommandOf(core, s.entry, command)) {
            // Edited past its limit while the Write ran: never send a cut value.
            finish(core, own, status, kErrorText);
            return;
        }
        // A file the folder will not take must not keep the modem unconfigured:
        // the Write goes on and says so at its end.
        if (s.savePanelFirst)
            panelNotSaved_ = core.modemPanel.savePanel() != PanelSave::Saved;
        if (s.mark >= 0) showMark(status, s.mark);
        if (s.action == ModemAction::SendField)
            putCommandBuffer(core.link, command);
        else
            putModemCommand(core.link, s.entry);
        core.line.handOff();
        core.replyFlags &= static_cast<std::uint8_t>(~s.clears);
        deadline_ = deadlineAfter(core.tickCounter, s.waitTicks);
        ++step_;
        return;
    }
    }
}

void ModemQueryProcedure::run(Core& core) {
    if (step_ == 0) {
        if (!takesRequest(core, kModemQuery, kModemSetup)) return;
        showMark(core.queryStatusField, 0);
        core.modemPanel.clearPanel();
        step_ = 1;
        return;
    }
    runStep(core, kQuerySteps, kModemQuery, core.queryStatusField);
}

void ModemQueryProcedure::endOnLoss(Core& core) {
    if (step_ != 0) finish(core, kModemQuery, core.queryStatusField, kErrorText);
}

void ModemSetupProcedure::endOnLoss(Core& core) {
    if (step_ != 0) finish(core, kModemSetup, core.setupStatusField, kErrorText);
}

void ModemSetupProcedure::run(Core& core) {
    if (step_ == 0) {
        if (!takesRequest(core, kModemSetup, kModemQuery)) return;
        // The path is fixed here; later clicks on the check box do not change it.
        if (core.window.checkState(IDC_WITHOUT_INTERNET) == Checked) {
            step_ = kWithoutInternetFirstStep;
        } else if (fullPathEntriesFit(core)) {
            step_ = kFullPathFirstStep;
        } else {
            // Refused before anything is sent: a cut value would configure the
            // modem wrongly, and an unsaveable panel would not match the modem.
            finish(core, kModemSetup, core.setupStatusField, kErrorText);
        }
        return;
    }
    runStep(core, kSetupSteps, kModemSetup, core.setupStatusField);
}

}  // namespace ostrakan
