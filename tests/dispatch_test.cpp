// Start-up, the command dispatch, the port commands and the deadline arithmetic.
#include <gtest/gtest.h>

#include "timing/tick.h"
#include "resources/resource.h"
#include "rig.h"
#include "serial/port_name.h"

namespace ostrakan::test {
namespace {

TEST(Deadline, SignedDifferenceAcrossTheWrap) {
    struct Case {
        Tick deadline, now;
        bool passed;
    } cases[] = {
        {100, 100, false}, {100, 99, false}, {100, 101, true},
        {44, 0xFFFFFFF0u, false},  // set at 2^32 - 16 with N = 60
        {44, 0xFFFFFFFFu, false}, {44, 0, false}, {44, 44, false}, {44, 45, true},
        {0x7FFFFFFFu, 0, false}, {0x80000000u, 0, true},  // half the range away reads as past
    };
    for (const Case& c : cases)
        EXPECT_EQ(deadlinePassed(c.deadline, c.now), c.passed) << c.deadline << " at " << c.now;
    EXPECT_EQ(deadlineAfter(0xFFFFFFF0u, 60), 44u);
}

TEST(Deadline, TwentyTicksArePendingThroughTPlus20) {
    const Tick t = 12345;
    const Tick deadline = deadlineAfter(t, kHoldWait);
    for (Tick now = t + 1; now <= t + 20; ++now) EXPECT_FALSE(deadlinePassed(deadline, now)) << now;
    EXPECT_TRUE(deadlinePassed(deadline, t + 21));
}

TEST(StartUp, ShowsComOneAndBlankStatusesAndLoadsThePanel) {
    Rig rig;
    writeFile("_data.ini", "10.0.0.1\r\napn\r\nuser\r\npass");
    rig.start();
    EXPECT_EQ(rig.shown(rig.core.portNameField), "COM1");
    EXPECT_EQ(rig.shown(rig.core.statusField), "");
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "   ");
    EXPECT_EQ(rig.shown(rig.core.setupStatusField), "   ");
    EXPECT_EQ(rig.shown(rig.core.ipAddressField), "10.0.0.1");
    EXPECT_EQ(rig.shown(rig.core.passwordField), "pass");
    EXPECT_EQ(rig.core.tickCounter, 0u);
}

TEST(StartUp, ControlsInTheirPlacesAndOrder) {
    Rig rig;
    rig.start();
    struct Case {
        int id;
        ControlKind kind;
        int x, y, w, h;
    } cases[] = {
        {3000, ControlKind::Edit, 145, 20, 60, 20},
        {3004, ControlKind::Edit, 145, 40, 150, 20},
        {3021, ControlKind::MultilineEdit, 595, 540, 200, 22},
        {3022, ControlKind::Edit, 595, 562, 200, 20},
        {3023, ControlKind::Edit, 595, 582, 200, 20},
        {3027, ControlKind::Edit, 595, 602, 200, 20},
        {3032, ControlKind::CheckBox, 610, 670, 160, 20},
        {3003, ControlKind::Edit, 720, 500, 60, 20},
        {3002, ControlKind::Edit, 720, 640, 60, 20},
        {3030, ControlKind::PushButton, 605, 500, 100, 20},
        {3031, ControlKind::PushButton, 605, 640, 100, 20},
        {3047, ControlKind::CheckBox, 100, 200, 15, 15},   // channel 1 A
        {3124, ControlKind::CheckBox, 180, 650, 15, 15},   // channel 16 BX
        {3063, ControlKind::CheckBox, 250, 200, 15, 15},   // channel 17 A
        {3139, ControlKind::CheckBox, 330, 620, 15, 15},   // channel 31 BX, not parameter field 0
        {3154, ControlKind::PushButton, 110, 150, 100, 20},
        {3155, ControlKind::PushButton, 220, 150, 100, 20},
        {3140, ControlKind::MultilineEdit, 450, 190, 200, 22},
        {3143, ControlKind::MultilineEdit, 450, 400, 200, 22},
        {3144, ControlKind::PushButton, 670, 120, 100, 20},
        {3153, ControlKind::PushButton, 780, 400, 100, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto* control = rig.window->controlById(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, c.kind);
        EXPECT_EQ(control->x, c.x);
        EXPECT_EQ(control->y, c.y);
        EXPECT_EQ(control->width, c.w);
        EXPECT_EQ(control->height, c.h);
    }
    // Port area, then the modem panel, then the controller panel.
    EXPECT_EQ(rig.window->controlAt(0)->id, 3000);
    EXPECT_EQ(rig.window->controlAt(1)->id, 3004);
    EXPECT_EQ(rig.window->controlAt(2)->id, 3021);
    EXPECT_EQ(rig.window->controlCount(), 2u + 9u + 93u + 2u + 15u);
    EXPECT_EQ(rig.window->controlById(3000)->font, EditFont::Heavy);
    EXPECT_EQ(rig.window->controlById(3140)->font, EditFont::Thin);
    EXPECT_EQ(std::string(rig.window->controlById(3032)->text),
              "\xC1\xE5\xE7 \xE8\xED\xF2\xE5\xF0\xED\xE5\xF2\xE0.");
    // Parameter fields are left in their text view, the modem entries in the byte view.
    EXPECT_FALSE(rig.parameterField(0).byteMode());
    EXPECT_TRUE(rig.core.apnField.byteMode());
}

TEST(Dispatch, ButtonsRaiseTheirFlagsAndOnlyThose) {
    struct Case {
        int id;
        int notification;
        int request;  // -1: none
    } cases[] = {
        {3030, 0, kModemQuery}, {3030, 1, -1}, {3031, 0, kModemSetup}, {3031, 5, -1},
        {3144, 0, kReadPeriod}, {3144, 1, kReadPeriod},  // not "clicks only"
        {3145, 0, kReadAddress}, {3146, 0, kReadPhone1}, {3147, 0, kReadPhone2},
        {3148, 0, kReadSmsPhone}, {3149, 0, kWritePeriod}, {3150, 0, kWriteAddress},
        {3151, 0, kWritePhone1}, {3152, 0, kWritePhone2}, {3153, 0, kWriteSmsPhone},
        {3154, 0, kReadChannels}, {3155, 0, kWriteChannels},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Rig rig;
        rig.start();
        EXPECT_TRUE(rig.core.onCommand(c.id, c.notification));
        for (int r = 0; r < kRequestCount; ++r)
            EXPECT_EQ(rig.core.requests.isSet(static_cast<Request>(r)), r == c.request) << r;
    }
}

TEST(Dispatch, EditsAndUnknownIdsGoToTheDefaultHandling) {
    Rig rig;
    rig.start();
    for (int id : {3000, 3002, 3003, 3004, 3021, 3022, 3023, 3027, 3140, 3143, 1, 3156, 40000})
        EXPECT_FALSE(rig.core.onCommand(id, 0x0300)) << id;
    EXPECT_FALSE(rig.core.requests.anySet());
}

TEST(Dispatch, ChannelBoxesStepOnClicksOnly) {
    Rig rig;
    rig.start();
    rig.type(rig.parameterField(0), "123");
    rig.core.onCommand(3139, 0x0300);  // the edit's change notification carries id 3139 too
    EXPECT_EQ(rig.window->checkState(3139), 0);
    rig.click(3139);
    EXPECT_EQ(rig.window->checkState(3139), 1);
    rig.click(3139);
    EXPECT_EQ(rig.window->checkState(3139), 0);
    EXPECT_EQ(rig.parameter(0), "123");
}

TEST(Dispatch, WithoutInternetBoxClearsThenReloadsThePanel) {
    Rig rig;
    writeFile("_data.ini", "10.0.0.1\r\napn\r\nuser\r\npass");
    rig.start();
    rig.type(rig.core.apnField, "typed, not saved");
    rig.click(IDC_WITHOUT_INTERNET);
    EXPECT_EQ(rig.window->checkState(IDC_WITHOUT_INTERNET), 1);
    EXPECT_EQ(rig.shown(rig.core.apnField), "");
    EXPECT_EQ(rig.shown(rig.core.ipAddressField), "");
    rig.click(IDC_WITHOUT_INTERNET);
    EXPECT_EQ(rig.window->checkState(IDC_WITHOUT_INTERNET), 0);
    EXPECT_EQ(rig.shown(rig.core.apnField), "apn");
    EXPECT_EQ(rig.shown(rig.core.passwordField), "pass");
    rig.click(IDC_WITHOUT_INTERNET);
    EXPECT_EQ(rig.shown(rig.core.userField), "");
    rig.core.onCommand(IDC_WITHOUT_INTERNET, 1);  // not a click
    EXPECT_EQ(rig.window->checkState(IDC_WITHOUT_INTERNET), 1);
    EXPECT_EQ(readFile("_data.ini"), "10.0.0.1\r\napn\r\nuser\r\npass");  // never written here
}

TEST(Dispatch, AboutAndExitReachTheWindow) {
    Rig rig;
    rig.start();
    EXPECT_TRUE(rig.core.onCommand(IDM_ABOUT, 1));
    EXPECT_EQ(rig.window->aboutShown, 1);
    EXPECT_FALSE(rig.window->destroyed);
    EXPECT_TRUE(rig.core.onCommand(IDM_EXIT, 0));
    EXPECT_TRUE(rig.window->destroyed);
}

TEST(PortName, TheCheck) {
    struct Case {
        const char* name;
        bool ok;
    } cases[] = {
        {"COM1", true}, {"COM10", true}, {"COM256", true}, {"COM1x", true}, {"COM 7", true},
        {"COM+3", true}, {"COM0", false}, {"COM257", false}, {"COM300", false}, {"COM099", true}, {"com3", false}, {"COM", false},
        {"LPT1", false}, {"COM12345", false}, {"COM-1", false}, {"COMx1", false}, {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkPortName(reinterpret_cast<const std::uint8_t*>(c.name),
                                std::char_traits<char>::length(c.name)),
                  c.ok)
            << c.name;
}

TEST(PortCommands, OpenReportsEveryOutcome) {
    struct Case {
        const char* typed;
        int openResult;
        const char* message;
        const char* opened;  // name handed to the line, nullptr if untouched
    } cases[] = {
        {"COM3", kPortOpened, "The COM3 is opened.", "COM3"},
        {"COM12", kPortOpened, "The COM12 is opened.", "COM12"},
        {"COM1x", kPortOpenFailed, "Port did't open!", "COM1x"},
        {"COM4", kPortSetStateFailed, "Port did't open!", "COM4"},
        {"COM4", kPortTimeoutsFailed, "Port did't open!", "COM4"},
        {"COM0", kPortOpened, "Name is wrong.", nullptr},
        {"COM257", kPortOpened, "Name is wrong.", nullptr},
        {"com3", kPortOpened, "Name is wrong.", nullptr},
        {"COM12345", kPortOpened, "Name is wrong.", nullptr},
        {"/dev/ttyS0", kPortOpened, "Name is wrong.", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Rig rig;
        rig.start();
        rig.type(rig.core.portNameField, c.typed);
        rig.line.openResult = c.openResult;
        EXPECT_TRUE(rig.core.onCommand(IDM_OPEN_PORT, 0));
        EXPECT_EQ(rig.shown(rig.core.statusField), c.message);
        if (c.opened) {
            ASSERT_EQ(rig.line.openedNames.size(), 1u);
            EXPECT_EQ(rig.line.openedNames[0], c.opened);
        } else {
            EXPECT_TRUE(rig.line.openedNames.empty());
        }
    }
}

TEST(PortCommands, SecondOpenLeavesTheOpenPortAlone) {
    Rig rig;
    rig.start();
    rig.click(IDM_OPEN_PORT);
    EXPECT_EQ(rig.shown(rig.core.statusField), "The COM1 is opened.");
    rig.type(rig.core.portNameField, "COM2");
    rig.click(IDM_OPEN_PORT);
    EXPECT_EQ(rig.shown(rig.core.statusField), "Port did't open!");
    EXPECT_EQ(rig.line.openedNames.size(), 1u);
    EXPECT_TRUE(rig.line.isOpen());
    EXPECT_EQ(rig.line.closes, 0);
}

TEST(PortCommands, CloseAlwaysReportsClosedAndAllowsAFreshOpen) {
    Rig rig;
    rig.start();
    rig.click(IDM_CLOSE_PORT);
    EXPECT_EQ(rig.shown(rig.core.statusField), "The Port is closed.");
    rig.click(IDM_OPEN_PORT);
    rig.click(IDM_CLOSE_PORT);
    EXPECT_FALSE(rig.line.isOpen());
    rig.click(IDM_OPEN_PORT);
    EXPECT_EQ(rig.shown(rig.core.statusField), "The COM1 is opened.");
    EXPECT_EQ(rig.line.openedNames.size(), 2u);
}

TEST(Tick, RunsEveryProcedureThenAdvancesTheCounter) {
    Rig rig;
    rig.start();
    rig.core.tickCounter = 0xFFFFFFFFu;
    rig.click(3144);
    rig.tick();
    EXPECT_EQ(rig.core.tickCounter, 0u);
    rig.tick();
    ASSERT_EQ(rig.line.sent.size(), 1u);
    EXPECT_EQ(rig.line.sent[0].tick, 0u);  // the procedures saw the counter before the increment
}

}  // namespace
}  // namespace ostrakan::test
