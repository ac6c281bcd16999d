// What every command is handed: the stop request and the output style. Made once
// in run(), after the command line is parsed; nothing below reads a global.
#pragma once

#include <atomic>

namespace ostrakan::cli {

struct Context {
    // The signal that asked us to stop (SIGINT, SIGTERM), 0 while none has. Set by
    // the handler; read by the host loop after each pass, so a procedure in
    // progress ends its wait and the port is closed on the way out.
    const std::atomic<int>* interrupted = nullptr;
    bool json = false;      // --json: reads print one JSON document instead of their text
    bool terminal = false;  // stderr is a terminal: progress and the table redraw in place

    bool stopped() const { return interrupted->load() != 0; }
    // 128 + the signal, as a shell reports a program the signal ended: 130 for Ctrl-C.
    int interruptedStatus() const { return 128 + interrupted->load(); }
};

}  // namespace ostrakan::cli
