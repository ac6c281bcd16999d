// The modem query and setup procedures. Each is a table of steps run by one small
// engine, one step per tick: reading the tables is reading the procedures.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/requests.h"
#include "timing/tick.h"

namespace ostrakan {

class Core;
class TextField;

// What a step waits for before it acts.
enum class ModemWait : std::uint8_t {
    None,   // act at once
    Pause,  // until the deadline has passed (after "+++")
    Reply,  // until one of the accepted reply bits is set; the deadline means "Error!"
};

// What a step does once its wait is over.
enum class ModemAction : std::uint8_t {
    Advance,    // go to the next step
    Send,       // show the mark, send the entry, clear bits, set the deadline
    SendField,  // the same with the field command built from the entry
    Finish,     // show the text, lower the request flag, back to step 0
};

struct ModemStep {
    ModemWait wait;
    std::uint8_t accepts;      // reply bits that end a Reply wait successfully
    std::uint8_t failBits;     // reply bits that end it with failText instead
    const char* failText;
    ModemAction action;
    std::int8_t mark;          // progress mark 0..23, -1 for none
    std::uint8_t entry;        // modem command table entry
    std::uint8_t clears;       // reply bits cleared at the send
    Tick waitTicks;            // deadline after the send
    bool savePanelFirst;       // save the panel entries before sending
    const char* finishText;
};

constexpr std::size_t kQueryStepCount = 8;   // 0..7
constexpr std::size_t kSetupStepCount = 77;  // 0..76
constexpr std::uint8_t kFullPathFirstStep = 1;
constexpr std::uint8_t kWithoutInternetFirstStep = 27;

// Step tables; entry 0 of each is the idle step, handled by the procedure itself.
extern const ModemStep kQuerySteps[kQueryStepCount];
extern const ModemStep kSetupSteps[kSetupStepCount];

// A full-path Write that configured the modem but could not write "_data.ini"
// (read-only folder, disk full) ends with this text instead of "Ok!".
constexpr const char* kNotSavedText = "NoSave";

// Progress mark k: k / 4 full stops and one of "|/-\" -> "..-".
std::size_t progressMark(int k, char* text /* at least 8 bytes */);

class ModemProcedure {
public:
    std::uint8_t step() const { return step_; }
    Tick deadline() const { return deadline_; }

protected:
    // Step 0: whether the own request is there and may start. A request made
    // while the other modem procedure's is set is lowered.
    bool takesRequest(Core& core, Request own, Request other);
    // Runs the current step of the table on the status field.
    void runStep(Core& core, const ModemStep* table, Request own, TextField& status);
    void finish(Core& core, Request own, TextField& status, const char* text);

    std::uint8_t step_ = 0;
    Tick deadline_ = 0;
    // Set by the panel save of this run when the file system refused it; turns the
    // run's success text into kNotSavedText. Cleared when the run finishes.
    bool panelNotSaved_ = false;
};

class ModemQueryProcedure : public ModemProcedure {
public:
    void run(Core& core);
    // The line is gone: a running query ends with "Error!", as on a deadline.
    void endOnLoss(Core& core);
};

class ModemSetupProcedure : public ModemProcedure {
public:
    void run(Core& core);
    // The line is gone: a running Write ends with "Error!", as on a deadline.
    void endOnLoss(Core& core);
};

}  // namespace ostrakan
