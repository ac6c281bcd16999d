// The program's state and its platform-free behaviour: the start-up sequence, the
// tick with its fourteen procedures, the reply classifier's trigger and the
// command dispatch. One instance lives for the whole run; it reaches the platform
// only through the Window and Line seams.
#pragma once

#include <array>
#include <cstdint>

#include "app/requests.h"
#include "timing/tick.h"
#include "app/window.h"
#include "controller/panel.h"
#include "controller/procedures.h"
#include "fields/text_field.h"
#include "modem/panel.h"
#include "modem/procedures.h"
#include "serial/line.h"
#include "serial/link_buffers.h"

namespace ostrakan {

class Core {
public:
    Core(Window& window, Line& line, LinkBuffers& link);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Creates the controls (port area, modem panel, controller panel), loads the
    // panel from "_data.ini" and puts "COM1" into the port name field.
    void startUp();

    // One tick: the fourteen procedures in their fixed order, then the counter.
    void tick();

    // The gap timer fired (the reader found the line quiet): classify the burst.
    // The burst is released to the reader after the next tick.
    void onGapTimer();

    // The back end saw the device go away: close the port as the close command
    // does, say so in the status field, and end waiting procedures as on a time-out.
    void onLineLost();

    // A command (menu, accelerator, control). Returns false for ids the dispatch
    // does not know, which the window passes on to the default handling.
    bool onCommand(int id, int notification);

    // Open and close commands, with their messages in the status field.
    void openPort();
    void closePort();

    Window& window;
    Line& line;
    LinkBuffers& link;

    Tick tickCounter = 0;
    std::uint8_t replyFlags = 0;
    RequestFlags requests;

    TextField portNameField;
    TextField statusField;
    TextField ipAddressField;
    TextField apnField;
    TextField userField;
    TextField passwordField;
    TextField queryStatusField;
    TextField setupStatusField;

    ModemPanel modemPanel;
    ControllerPanel controllerPanel;

    // The name of the port the open command opened, for "The COM3 is lost!".
    char openedPortName[8] = {};
    // Set by the classifier, cleared by the tick after it, which releases the burst.
    bool releaseAfterTick = false;

    ModemQueryProcedure modemQuery;
    ModemSetupProcedure modemSetup;
    std::array<ControllerProcedure, kControllerProcedureCount> controllerProcedures;
};

}  // namespace ostrakan
