// ostrakan-cli: the program's core, tick and procedures without a window. Each
// command does what a user would do in the window (type into the controls, click
// a button) and waits, tick by tick, until the procedure has finished.
#pragma once

namespace ostrakan::cli {

// Exit statuses scripts rely on.
enum ExitStatus : int {
    kExitDone = 0,
    kExitNoAnswer = 1,   // no answer in time, "Error!", "Empty0", "Empty9", "NoSave"; provision: a unit failed
    kExitUsage = 2,      // bad usage, or input the program would refuse
    kExitPort = 3,       // the port could not be opened, or the device was lost under it
    kExitDifferent = 4,  // restore: the unit reads back otherwise than the profile holds
    kExitOutput = 5,     // an output file (dump -o, --report) or standard output could not be written whole
    // 128 + the signal when SIGINT (130) or SIGTERM (143) ended the command
};

int run(int argc, char** argv);

}  // namespace ostrakan::cli
