// ostrakan-cli: the program's core, tick and procedures without a window. Each
// command does what a user would do in the window (type into the controls, click
// a button) and waits, tick by tick, until the procedure has finished.
#pragma once

namespace ostrakan::cli {

// Exit statuses scripts rely on.
enum ExitStatus : int {
    kExitDone = 0,
    kExitNoAnswer = 1,   // the device did not answer in time, or "Error!", "Empty0", "Empty9"
    kExitUsage = 2,      // bad usage, or input the program would refuse
    kExitPort = 3,       // the port could not be opened, or was lost during the command
    // 128 + the signal when SIGINT (130) or SIGTERM (143) ended the command
};

int run(int argc, char** argv);

}  // namespace ostrakan::cli
