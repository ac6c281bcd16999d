// The modem query and setup procedures against a scripted modem, tick by tick.
#include <gtest/gtest.h>

#include <map>

#include <sys/stat.h>
#include <unistd.h>

#include "app/reply_flags.h"
#include "modem/procedures.h"
#include "resources/resource.h"
#include "rig.h"

namespace ostrakan::test {
namespace {

const std::string kOk = "\r\nOK\r\n";
const std::string kBlankOk = "\r\n\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

const std::string kServiceListing =
    "\r\n^SISS: 0,\"srvType\",\"Socket\"\r\n^SISS: 0,\"address\",\"socktcp://listener:65534\"\r\n"
    "^SISS: 9,\"srvType\",\"Socket\"\r\n^SISS: 9,\"address\",\"socktcp://10.1.2.3:65534\"\r\n"
    "\r\nOK\r\n";
const std::string kConnectionListing =
    "\r\n^SICS: 0,\"conType\",\"GPRS0\"\r\n^SICS: 0,\"apn\",\"internet\"\r\n"
    "^SICS: 0,\"user\",\"gdata\"\r\n\r\nOK\r\n";

// A well-behaved modem; `overrides` replaces the answer to chosen commands.
struct ScriptedModem {
    std::map<std::string, std::string> overrides;

    std::string operator()(const std::string& command) const {
        auto it = overrides.find(command);
        if (it != overrides.end()) return it->second;
        if (command == "+++\r\n") return "";
        if (command == "AT^SISS?\r\n") return kServiceListing;
        if (command == "AT^SICS?\r\n") return kConnectionListing;
        if (command.rfind("AT^S", 0) == 0) return kBlankOk;
        return kOk;
    }
};

void startWith(Rig& rig, ScriptedModem modem = {}) {
    rig.responder = modem;
    rig.start();
}

void fillPanel(Rig& rig, const std::string& ip, const std::string& apn, const std::string& user,
               const std::string& password) {
    rig.type(rig.core.ipAddressField, ip);
    rig.type(rig.core.apnField, apn);
    rig.type(rig.core.userField, user);
    rig.type(rig.core.passwordField, password);
}

std::string mark(int k) {
    char text[8];
    progressMark(k, text);
    return text;
}

TEST(ProgressMarks, DotsAndSpinner) {
    const std::pair<int, const char*> cases[] = {
        {0, "|"}, {1, "/"}, {2, "-"}, {3, "\\"}, {4, ".|"}, {11, "..\\"},
        {12, "...|"}, {20, ".....|"}, {23, ".....\\"},
    };
    for (auto [k, text] : cases) EXPECT_EQ(mark(k), text) << k;
}

TEST(ModemQuery, ReadsTheProfilesBackIntoThePanel) {
    Rig rig;
    writeFile("_data.ini", "1.1.1.1\r\nold\r\nold\r\nsecret");
    startWith(rig);
    EXPECT_EQ(rig.shown(rig.core.passwordField), "secret");
    rig.core.tickCounter = 100;
    rig.click(IDC_MODEM_READ);
    EXPECT_EQ(rig.tickUntilLowered(kModemQuery), 28);
    EXPECT_EQ(rig.sentTexts(),
              (std::vector<std::string>{"+++\r\n", "ATE0\r\n", "AT^SIPS=service,load,0\r\n",
                                        "AT^SIPS=service,load,9\r\n", "AT^SISS?\r\n",
                                        "AT^SICS?\r\n"}));
    EXPECT_EQ(rig.line.sent[0].tick, 101u);  // "+++" on the tick after the start
    EXPECT_EQ(rig.line.sent[1].tick, 122u);  // after the 21-tick pause
    EXPECT_EQ(rig.queryStatusHistory,
              (std::vector<std::string>{"|", "/", "-", "\\", "|", "Ok!"}));
    EXPECT_EQ(rig.shown(rig.core.ipAddressField), "10.1.2.3");
    EXPECT_EQ(rig.shown(rig.core.apnField), "internet");
    EXPECT_EQ(rig.shown(rig.core.userField), "gdata");
    EXPECT_EQ(rig.shown(rig.core.passwordField), "");  // not read back
    EXPECT_EQ(rig.window->checkState(IDC_WITHOUT_INTERNET), 0);
}

TEST(ModemQuery, EndsEarlyOnErrorsAndSilence) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> overrides;
        std::string last;  // final status
        std::size_t sent;
    } cases[] = {
        {"service 0 never stored", {{"AT^SIPS=service,load,0\r\n", kError}}, "Empty0", 3},
        {"service 9 never stored", {{"AT^SIPS=service,load,9\r\n", kError}}, "Empty9", 4},
        {"echo-off unanswered", {{"ATE0\r\n", ""}}, "Error!", 2},
        {"echo-off refused", {{"ATE0\r\n", kError}}, "Error!", 2},
        {"listing missing", {{"AT^SISS?\r\n", kOk}}, "Error!", 5},
        {"connection listing missing", {{"AT^SICS?\r\n", ""}}, "Error!", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        startWith(rig, ScriptedModem{c.overrides});
        rig.click(IDC_MODEM_READ);
        ASSERT_GT(rig.tickUntilLowered(kModemQuery), 0);
        EXPECT_EQ(rig.shown(rig.core.queryStatusField), c.last);
        EXPECT_EQ(rig.line.sent.size(), c.sent);
    }
}

TEST(ModemQuery, SilenceEndsWithErrorAtThe61stTickAfterTheCommand) {
    Rig rig;
    startWith(rig, ScriptedModem{{{"AT^SIPS=service,load,0\r\n", ""}}});
    rig.click(IDC_MODEM_READ);
    while (rig.line.sent.size() < 3) rig.tick();
    const Tick sentAt = rig.line.sent[2].tick;
    while (rig.core.tickCounter < sentAt + 61) rig.tick();
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "/");
    rig.tick();  // sentAt + 61
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "Error!");
    EXPECT_FALSE(rig.core.requests.isSet(kModemQuery));
}

const std::vector<std::string> kFullPath = {
    "+++\r\n",
    "ATE0\r\n",
    "AT^SISS=0,\"srvType\",\"Socket\"\r\n",
    "AT^SISS=0,\"address\",\"socktcp://listener:65534\"\r\n",
    "AT^SISS=9,\"srvType\",\"Socket\"\r\n",
    "AT^SISS=9,\"address\",\"socktcp://10.0.0.7:65534\"\r\n",
    "AT^SICS=0,\"conType\",\"GPRS0\"\r\n",
    "AT^SICS=0,\"apn\",\"internet\"\r\n",
    "AT^SICS=0,\"user\",\"u\"\r\n",
    "AT^SICS=0,\"passwd\",\"\"\r\n",
    "AT^SIPS=service,save,0\r\n",
    "AT^SIPS=service,save,9\r\n",
    "AT^SIPS=connection,save,0\r\n",
};

TEST(ModemSetup, FullPathWritesTheProfilesAndSavesThePanel) {
    Rig rig;
    startWith(rig);
    fillPanel(rig, "10.0.0.7", "internet", "u", "");
    rig.core.tickCounter = 10;
    rig.click(IDC_MODEM_WRITE);
    EXPECT_GT(rig.tickUntilLowered(kModemSetup), 0);
    EXPECT_EQ(rig.sentTexts(), kFullPath);
    // "+++" at t+1, the pause passes at t+22, ATE0 goes out on the tick after.
    EXPECT_EQ(rig.line.sent[0].tick, 11u);
    EXPECT_EQ(rig.line.sent[1].tick, 33u);
    std::vector<std::string> marks = {"   "};
    for (int k = 0; k <= 11; ++k) marks.push_back(mark(k));
    marks.push_back("Ok!");
    EXPECT_EQ(rig.setupStatusHistory, marks);
    EXPECT_EQ(readFile("_data.ini"), "10.0.0.7\r\ninternet\r\nu\r\n");
    // The status field kept "   " through the pause.
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "   ");
}

TEST(ModemSetup, EmptyFieldsSendTheTableEntriesUnchanged) {
    Rig rig;
    startWith(rig);
    rig.click(IDC_MODEM_WRITE);
    rig.tickUntilLowered(kModemSetup);
    const auto sent = rig.sentTexts();
    ASSERT_EQ(sent.size(), 13u);
    EXPECT_EQ(sent[5], "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n");
    EXPECT_EQ(sent[7], "AT^SICS=0,\"apn\",\"\"\r\n");
    EXPECT_EQ(sent[8], "AT^SICS=0,\"user\",\"\"\r\n");
    EXPECT_EQ(readFile("_data.ini"), "\r\n\r\n\r\n");
}

TEST(ModemSetup, WithoutInternetPathResetsEverythingAndStoresModemSettings) {
    Rig rig;
    startWith(rig);
    fillPanel(rig, "10.0.0.7", "internet", "u", "p");
    rig.click(IDC_WITHOUT_INTERNET);
    EXPECT_EQ(rig.window->checkState(IDC_WITHOUT_INTERNET), 1);
    EXPECT_EQ(rig.shown(rig.core.apnField), "");
    rig.click(IDC_MODEM_WRITE);
    EXPECT_GT(rig.tickUntilLowered(kModemSetup), 0);
    std::vector<std::string> expected = {"+++\r\n"};
    for (int p = 0; p <= 5; ++p) expected.push_back("AT^SIPS=all,reset," + std::to_string(p) + "\r\n");
    for (int p = 0; p <= 5; ++p) expected.push_back("AT^SIPS=all,save," + std::to_string(p) + "\r\n");
    for (int p = 6; p <= 8; ++p) {
        expected.push_back("AT^SIPS=service,reset," + std::to_string(p) + "\r\n");
        expected.push_back("AT^SIPS=service,save," + std::to_string(p) + "\r\n");
    }
    expected.push_back("AT^SIPS=service,reset,9\r\n");
    expected.push_back("AT^SIPS=service,save,9\r\n");
    for (const char* c : {"ATE0\r\n", "AT+CMGF=1\r\n", "AT&D0\r\n", "AT&W\r\n"}) expected.push_back(c);
    EXPECT_EQ(rig.sentTexts(), expected);
    std::vector<std::string> marks = {"   "};
    for (int k = 0; k <= 23; ++k) marks.push_back(mark(k));
    marks.push_back("Ok!");
    EXPECT_EQ(rig.setupStatusHistory, marks);
    EXPECT_EQ(readFile("_data.ini"), "<missing>");  // this path never saves
}

TEST(ModemSetup, WhichErrorsAreAccepted) {
    struct Case {
        const char* name;
        bool withoutInternet;
        std::map<std::string, std::string> overrides;
        std::string last;
        std::string shownBeforeTheEnd;  // status while the unanswered step waits
    } cases[] = {
        {"ERROR to ATE0 on the full path", false, {{"ATE0\r\n", kError}}, "Error!", "|"},
        {"ERROR to every SICS= on the full path", false,
         {{"AT^SICS=0,\"conType\",\"GPRS0\"\r\n", kError},
          {"AT^SICS=0,\"apn\",\"\"\r\n", kError},
          {"AT^SICS=0,\"user\",\"\"\r\n", kError}},
         "Ok!", ""},
        {"ERROR to the last save,9 without internet", true,
         {{"AT^SIPS=service,save,9\r\n", kError}}, "Error!", mark(19)},
        {"ERROR to a reset without internet", true, {{"AT^SIPS=all,reset,3\r\n", kError}}, "Ok!", ""},
        {"ERROR to ATE0 without internet", true, {{"ATE0\r\n", kError}}, "Ok!", ""},
        {"ERROR to the final AT&W", true, {{"AT&W\r\n", kError}}, "Ok!", ""},
        {"silence after +++ then ATE0", false, {{"ATE0\r\n", ""}}, "Error!", "|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        startWith(rig, ScriptedModem{c.overrides});
        if (c.withoutInternet) rig.click(IDC_WITHOUT_INTERNET);
        rig.click(IDC_MODEM_WRITE);
        ASSERT_GT(rig.tickUntilLowered(kModemSetup), 0);
        EXPECT_EQ(rig.shown(rig.core.setupStatusField), c.last);
        if (!c.shownBeforeTheEnd.empty()) {
            ASSERT_GE(rig.setupStatusHistory.size(), 2u);
            EXPECT_EQ(rig.setupStatusHistory[rig.setupStatusHistory.size() - 2], c.shownBeforeTheEnd);
        }
    }
}

TEST(ModemSetup, TheErrorComesSixtyOneTicksAfterTheUnansweredCommand) {
    Rig rig;
    startWith(rig, ScriptedModem{{{"AT^SIPS=service,save,9\r\n", kError}}});
    rig.click(IDC_WITHOUT_INTERNET);
    rig.click(IDC_MODEM_WRITE);
    while (rig.line.sent.empty() || rig.line.sent.back().bytes != "AT^SIPS=service,save,9\r\n")
        rig.tick();
    const Tick sentAt = rig.line.sent.back().tick;
    EXPECT_EQ(rig.tickUntilLowered(kModemSetup), 61);
    EXPECT_EQ(rig.core.tickCounter, sentAt + 62);  // the counter advanced past that tick
}

TEST(ModemSetup, RefusesTextsThatCannotBeSentOrSavedBeforeSendingAnything) {
    struct Case {
        const char* name;
        std::string ip, apn, user, password;
        bool refused;
    } cases[] = {
        {"APN of 78 fits the command", "", std::string(78, 'a'), "", "", false},
        {"APN of 79", "", std::string(79, 'a'), "", "", true},
        {"User of 78", "", "", std::string(78, 'u'), "", true},
        {"Password of 76", "", "", "", std::string(76, 'p'), true},
        {"IP Address of 58 fits", std::string(58, '1'), "", "", "", false},
        {"IP Address of 59", std::string(59, '1'), "", "", "", true},
        {"96 bytes together fit the file", std::string(30, '1'), std::string(30, 'a'),
         std::string(30, 'u'), std::string(6, 'p'), false},
        {"97 bytes together do not", std::string(30, '1'), std::string(30, 'a'),
         std::string(30, 'u'), std::string(7, 'p'), true},
        {"a line break in the address", "10.0.0.1\r\n10.0.0.2", "", "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        writeFile("_data.ini", "keep\r\nkeep\r\nkeep\r\nkeep");
        startWith(rig);
        fillPanel(rig, c.ip, c.apn, c.user, c.password);
        rig.click(IDC_MODEM_WRITE);
        ASSERT_GT(rig.tickUntilLowered(kModemSetup), 0);
        if (c.refused) {
            EXPECT_TRUE(rig.line.sent.empty());
            EXPECT_EQ(rig.shown(rig.core.setupStatusField), "Error!");
            EXPECT_EQ(readFile("_data.ini"), "keep\r\nkeep\r\nkeep\r\nkeep");
        } else {
            EXPECT_EQ(rig.line.sent.size(), 13u);
            EXPECT_EQ(rig.shown(rig.core.setupStatusField), "Ok!");
        }
    }
}

TEST(ModemSetup, AFieldEditedPastItsLimitDuringTheRunStopsItThere) {
    Rig rig;
    startWith(rig);
    rig.click(IDC_MODEM_WRITE);
    rig.ticks(3);  // path chosen with empty fields
    rig.type(rig.core.apnField, std::string(79, 'a'));
    rig.tickUntilLowered(kModemSetup);
    EXPECT_EQ(rig.shown(rig.core.setupStatusField), "Error!");
    for (const auto& s : rig.sentTexts()) EXPECT_EQ(s.find("\"apn\""), std::string::npos) << s;
}

TEST(ModemSetup, EntriesEditedBeforeTheSaveStopTheWriteBeforeItsEchoOff) {
    // Edited during the "+++" pause, after step 0 found them fine: the save step
    // checks again and sends nothing.
    struct Case {
        const char* name;
        int entry;  // 0 IP Address, 1 APN, 2 User, 3 Password
        std::string text;
    } cases[] = {
        {"APN of 79", 1, std::string(79, 'a')},
        {"User of 78", 2, std::string(78, 'u')},
        {"Password of 76", 3, std::string(76, 'p')},
        {"IP Address of 59", 0, std::string(59, '1')},
        {"97 bytes together", 1, std::string(84, 'a')},
        {"Enter typed in the IP Address", 0, "10.0.0.7\r\n"},
        {"CR in the APN", 1, "inter\rnet"},
        {"0x1A in the User", 2, "u\x1A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        writeFile("_data.ini", "keep\r\nkeep\r\nkeep\r\nkeep");
        startWith(rig);
        fillPanel(rig, "10.0.0.7", "internet", "u", "p");
        rig.click(IDC_MODEM_WRITE);
        rig.ticks(2);
        ASSERT_EQ(rig.core.modemSetup.step(), 2);  // in the pause after "+++"
        TextField* fields[] = {&rig.core.ipAddressField, &rig.core.apnField, &rig.core.userField,
                               &rig.core.passwordField};
        rig.type(*fields[c.entry], c.text);
        ASSERT_GT(rig.tickUntilLowered(kModemSetup), 0);
        EXPECT_EQ(rig.sentTexts(), std::vector<std::string>{"+++\r\n"});
        EXPECT_EQ(rig.setupStatusHistory, (std::vector<std::string>{"   ", "Error!"}));
        EXPECT_EQ(readFile("_data.ini"), "keep\r\nkeep\r\nkeep\r\nkeep");
    }
}

TEST(ModemSetup, AFolderThatRefusesTheFileStillConfiguresTheModem) {
    Rig rig;
    startWith(rig);
    // A directory in the file's place: the replace fails as in a read-only folder.
    ASSERT_EQ(mkdir("_data.ini", 0700), 0);
    fillPanel(rig, "10.0.0.7", "internet", "u", "");
    rig.click(IDC_MODEM_WRITE);
    ASSERT_GT(rig.tickUntilLowered(kModemSetup), 0);
    EXPECT_EQ(rig.sentTexts(), kFullPath);
    std::vector<std::string> marks = {"   "};
    for (int k = 0; k <= 11; ++k) marks.push_back(mark(k));
    marks.push_back(kNotSavedText);
    EXPECT_EQ(rig.setupStatusHistory, marks);
    ASSERT_EQ(rmdir("_data.ini"), 0);
    // The failed save belonged to that run only: a Write that saves nothing is a plain success.
    rig.click(IDC_WITHOUT_INTERNET);
    rig.click(IDC_MODEM_WRITE);
    ASSERT_GT(rig.tickUntilLowered(kModemSetup), 0);
    EXPECT_EQ(rig.shown(rig.core.setupStatusField), "Ok!");
}

TEST(ModemSetup, AReplyOnTheTickTheDeadlinePassesIsATimeOut) {
    // The deadline is tested before the reply bits.
    const struct {
        Tick replyAfter;  // ticks after the unanswered "ATE0"
        const char* shown;
    } cases[] = {{60, "/"}, {61, "Error!"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replyAfter);
        Rig rig;
        startWith(rig, ScriptedModem{{{"ATE0\r\n", ""}}});
        rig.click(IDC_MODEM_WRITE);
        while (rig.line.sent.size() < 2) rig.tick();
        const Tick sentAt = rig.line.sent[1].tick;
        rig.responder = nullptr;  // nothing more answers on its own
        while (rig.core.tickCounter < sentAt + c.replyAfter) rig.tick();
        rig.reply(kOk);
        rig.tick();
        EXPECT_EQ(rig.shown(rig.core.setupStatusField), c.shown);
    }
}

TEST(ModemSetup, CheckingTheBoxDuringTheFullPathEmptiesTheLaterFieldCommands) {
    Rig rig;
    startWith(rig);
    fillPanel(rig, "10.0.0.7", "internet", "u", "p");
    rig.click(IDC_MODEM_WRITE);
    while (rig.line.sent.size() < 4) rig.tick();
    rig.click(IDC_WITHOUT_INTERNET);  // the path stays the full one
    rig.tickUntilLowered(kModemSetup);
    const auto sent = rig.sentTexts();
    ASSERT_EQ(sent.size(), 13u);
    EXPECT_EQ(sent[5], "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n");
    EXPECT_EQ(sent[7], "AT^SICS=0,\"apn\",\"\"\r\n");
    EXPECT_EQ(rig.shown(rig.core.setupStatusField), "Ok!");
    // The panel was saved before the box was checked.
    EXPECT_EQ(readFile("_data.ini"), "10.0.0.7\r\ninternet\r\nu\r\np");
}

TEST(ModemInterlock, ReadAndWriteBeforeTheSameTickStartTheSetup) {
    Rig rig;
    startWith(rig);
    rig.click(IDC_MODEM_READ);
    rig.click(IDC_MODEM_WRITE);
    rig.tick();
    EXPECT_FALSE(rig.core.requests.isSet(kModemQuery));
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "   ");
    EXPECT_EQ(rig.core.modemSetup.step(), kFullPathFirstStep);
}

TEST(ModemInterlock, WriteClickedDuringTheQueryIsDropped) {
    Rig rig;
    startWith(rig);
    rig.click(IDC_MODEM_READ);
    rig.ticks(5);
    rig.click(IDC_MODEM_WRITE);
    rig.tick();
    EXPECT_FALSE(rig.core.requests.isSet(kModemSetup));
    rig.tickUntilLowered(kModemQuery);
    EXPECT_EQ(rig.shown(rig.core.queryStatusField), "Ok!");
    EXPECT_EQ(rig.shown(rig.core.setupStatusField), "   ");
}

TEST(ModemInterlock, AModemProcedureMayStartWhileAControllerProcedureRuns) {
    Rig rig;
    startWith(rig);
    rig.click(3144);  // controller read, never answered
    rig.ticks(3);
    rig.click(IDC_MODEM_READ);
    rig.tick();
    EXPECT_EQ(rig.core.modemQuery.step(), 1);
    EXPECT_TRUE(rig.core.requests.isSet(kReadPeriod));
}

TEST(ModemInterlock, SecondWriteClickChangesNothing) {
    Rig rig;
    startWith(rig);
    rig.click(IDC_MODEM_WRITE);
    rig.ticks(30);
    rig.click(IDC_MODEM_WRITE);
    rig.tickUntilLowered(kModemSetup);
    EXPECT_EQ(rig.line.sent.size(), 13u);
}

}  // namespace
}  // namespace ostrakan::test
