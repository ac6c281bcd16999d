#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/headless_window.h"
#include "fields/text_field.h"
#include "modem/panel.h"
#include "resources/resource.h"
#include "rig.h"
#include "settings/settings_file.h"

namespace ostrakan {
namespace {

const char kKeep[] = "keep";

class ModemPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel.bind(ModemFields{&ip, &apn, &user, &password, &queryStatus, &setupStatus});
        panel.createPanel(window);
    }

    TextField* entries[4] = {&ip, &apn, &user, &password};

    void type(const std::string (&texts)[4]) {
        for (int i = 0; i < 4; ++i) window.typeInto(entries[i]->control(), texts[i].c_str());
    }
    void fill(const char* text) {
        for (TextField* f : entries) f->showBytes(text);
    }
    // What a control shows for a byte view: control bytes as bullets.
    static std::string displayed(std::string s) {
        for (char& c : s)
            if (static_cast<unsigned char>(c) < 0x20) c = '\x95';
        return s;
    }
    static std::string viewOf(const TextField& f) {
        return std::string(reinterpret_cast<const char*>(f.data()), f.length());
    }
    // Each entry's byte view and what its control shows.
    void expectEntries(const std::string (&texts)[4]) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(entries[i]->byteMode());
            EXPECT_EQ(viewOf(*entries[i]), texts[i]);
            EXPECT_EQ(std::string(window.textOf(entries[i]->control())), displayed(texts[i]));
        }
    }
    static void putDiskBytes(const std::string& bytes) { test::writeFile(kSettingsFileName, bytes); }
    static std::string diskBytes() { return test::readFile(kSettingsFileName); }
    void click() {
        panel.onCheckBoxClick(window);
    }
    int checkBox() { return window.checkState(IDC_WITHOUT_INTERNET); }

    HeadlessWindow window;
    TextField ip, apn, user, password, queryStatus, setupStatus;
    ModemPanel panel;

private:
    // A fresh current directory for each test: "_data.ini" is a relative name and
    // tests run in parallel.
    test::TempDir dir_;
};

TEST_F(ModemPanelTest, CreatePanelMakesTheControls) {
    const struct {
        int id;
        ControlKind kind;
        int x, y, width, height;
    } controls[] = {
        {IDC_IP_ADDRESS, ControlKind::MultilineEdit, 595, 540, 200, 22},
        {IDC_APN, ControlKind::Edit, 595, 562, 200, 20},
        {IDC_USER, ControlKind::Edit, 595, 582, 200, 20},
        {IDC_PASSWORD, ControlKind::Edit, 595, 602, 200, 20},
        {IDC_WITHOUT_INTERNET, ControlKind::CheckBox, 610, 670, 160, 20},
        {IDC_QUERY_STATUS, ControlKind::Edit, 720, 500, 60, 20},
        {IDC_SETUP_STATUS, ControlKind::Edit, 720, 640, 60, 20},
        {IDC_MODEM_READ, ControlKind::PushButton, 605, 500, 100, 20},
        {IDC_MODEM_WRITE, ControlKind::PushButton, 605, 640, 100, 20},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        const HeadlessWindow::Control* control = window.controlById(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, c.kind);
        EXPECT_EQ(control->x, c.x);
        EXPECT_EQ(control->y, c.y);
        EXPECT_EQ(control->width, c.width);
        EXPECT_EQ(control->height, c.height);
    }
    EXPECT_STREQ(window.controlById(IDC_WITHOUT_INTERNET)->text, "\xC1\xE5\xE7 \xE8\xED\xF2\xE5\xF0\xED\xE5\xF2\xE0.");
    EXPECT_EQ(checkBox(), Unchecked);
    EXPECT_STREQ(window.textOf(queryStatus.control()), "   ");
    EXPECT_STREQ(window.textOf(setupStatus.control()), "   ");
    EXPECT_FALSE(ip.byteMode());
    EXPECT_TRUE(apn.byteMode());
    EXPECT_TRUE(user.byteMode());
    EXPECT_TRUE(password.byteMode());
    for (TextField* f : entries) EXPECT_STREQ(window.textOf(f->control()), "");
}

TEST_F(ModemPanelTest, SaveAndLoadTheWorkedExample) {
    type({"10.0.0.1", "apn", "u", ""});
    std::uint8_t joined[kPanelFileLimit];
    std::size_t length = 0;
    ASSERT_TRUE(panel.joinEntries(joined, &length));
    EXPECT_EQ(length, 15u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(joined), length), "10.0.0.1\napn\nu\n");

    ASSERT_EQ(panel.savePanel(), PanelSave::Saved);
    EXPECT_EQ(diskBytes(), "10.0.0.1\r\napn\r\nu\r\n");
    EXPECT_EQ(diskBytes().size(), 18u);

    fill(kKeep);
    panel.loadPanel();
    expectEntries({"10.0.0.1", "apn", "u", ""});
}

TEST_F(ModemPanelTest, LoadFromFile) {
    const struct {
        const char* name;
        std::string onDisk;
        std::string fields[4];
    } cases[] = {
        {"four lines", "a\r\nb\r\nc\r\nd", {"a", "b", "c", "d"}},
        {"fourth line ends with a break", "a\r\nb\r\nc\r\nd\r\n", {"a", "b", "c", "d"}},
        {"LF alone is a break too", "a\nb\nc\nd", {"a", "b", "c", "d"}},
        {"two lines", "10.0.0.1\r\ninternet\r\n", {"10.0.0.1", "internet", kKeep, kKeep}},
        {"second line without break", "10.0.0.1\r\ninternet", {"10.0.0.1", kKeep, kKeep, kKeep}},
        {"three lines", "a\r\nb\r\nc\r\n", {"a", "b", "c", ""}},
        {"empty lines", "\r\n\r\n\r\n", {"", "", "", ""}},
        {"empty file", "", {kKeep, kKeep, kKeep, kKeep}},
        {"a lone CR is data", "a\rb\r\nc\r\nd\r\ne", {"a\rb", "c", "d", "e"}},
        {"0x1A ends the data", "a\r\nb\x1A\r\nc\r\nd", {"a", kKeep, kKeep, kKeep}},
        {"99 bytes", "a\r\nb\r\nc\r\n" + std::string(93, 'd'), {"a", "b", "c", std::string(93, 'd')}},
        {"100 bytes", "a\r\nb\r\nc\r\n" + std::string(94, 'd'), {kKeep, kKeep, kKeep, kKeep}},
        {"100 bytes after CR LF is read as LF", std::string(94, 'a') + "\r\nb\r\nc\r\nd",
         {kKeep, kKeep, kKeep, kKeep}},
        {"over 100 bytes", std::string(300, 'x'), {kKeep, kKeep, kKeep, kKeep}},
        {"first line of 99 bytes", std::string(99, 'x'), {kKeep, kKeep, kKeep, kKeep}},
        {"first line of 98 bytes", std::string(98, 'x') + "\r\n", {std::string(98, 'x'), kKeep, kKeep, kKeep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        putDiskBytes(c.onDisk);
        fill(kKeep);
        ip.selectText();  // the IP Address field is kept in its text view
        panel.loadPanel();
        // Whatever was not loaded still shows "keep" through its byte view.
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            if (c.fields[i] == kKeep) {
                entries[i]->selectBytes();
            } else {
                EXPECT_TRUE(entries[i]->byteMode());
            }
            EXPECT_EQ(viewOf(*entries[i]), c.fields[i]);
            EXPECT_EQ(std::string(window.textOf(entries[i]->control())), displayed(c.fields[i]));
        }
    }
}

TEST_F(ModemPanelTest, LoadWithoutFileChangesNothing) {
    fill(kKeep);
    panel.loadPanel();
    expectEntries({kKeep, kKeep, kKeep, kKeep});
    EXPECT_EQ(diskBytes(), "<missing>");
}

TEST_F(ModemPanelTest, SaveRefusesWhatCouldNotBeLoadedBack) {
    const struct {
        const char* name;
        std::string texts[4];
        bool saved;
        std::string onDisk;
    } cases[] = {
        {"99 bytes with the breaks", {std::string(58, '1'), std::string(38, 'a'), "", ""}, true,
         std::string(58, '1') + "\r\n" + std::string(38, 'a') + "\r\n\r\n"},
        {"100 bytes with the breaks", {std::string(58, '1'), std::string(39, 'a'), "", ""}, false,
         ""},
        {"long password", {"", "", "", std::string(97, 'p')}, false, ""},
        {"96 in the password", {"", "", "", std::string(96, 'p')}, true,
         "\r\n\r\n\r\n" + std::string(96, 'p')},
        {"254 in one field", {std::string(300, 'x'), "", "", ""}, false, ""},
        {"LF in the APN", {"1.2.3.4", "a\nb", "", ""}, false, ""},
        {"LF in the password", {"", "", "", "\n"}, false, ""},
        {"0x1A in the user", {"", "", "u\x1A", ""}, false, ""},
        {"CR is kept", {"a\r", "", "", ""}, true, "a\r\r\n\r\n\r\n"},
        {"spaces and quotes kept", {" 1.2.3.4 ", "\"q\"", "a,b", "\xC1"}, true,
         " 1.2.3.4 \r\n\"q\"\r\na,b\r\n\xC1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = "before\r\n";
        putDiskBytes(before);
        type(c.texts);
        EXPECT_EQ(panel.savePanel(), c.saved ? PanelSave::Saved : PanelSave::Refused);
        EXPECT_EQ(diskBytes(), c.saved ? c.onDisk : before);
        if (c.saved) {
            // What was saved loads back unchanged.
            fill(kKeep);
            panel.loadPanel();
            expectEntries(c.texts);
        }
    }
}

TEST_F(ModemPanelTest, ClearPanelEmptiesTheEntriesOnly) {
    fill("text");
    ip.selectText();
    ip.assign("text view", 9);
    queryStatus.showBytes("Ok!");
    setupStatus.showBytes("Error!");
    putDiskBytes("a\r\nb\r\nc\r\nd");
    panel.clearPanel();
    expectEntries({"", "", "", ""});
    EXPECT_STREQ(window.textOf(queryStatus.control()), "Ok!");
    EXPECT_STREQ(window.textOf(setupStatus.control()), "Error!");
    EXPECT_EQ(viewOf(queryStatus), "Ok!");
    EXPECT_EQ(viewOf(setupStatus), "Error!");
    EXPECT_EQ(diskBytes(), "a\r\nb\r\nc\r\nd");  // clearing never writes the file
    EXPECT_EQ(checkBox(), Unchecked);           // nor touches the check box
}

TEST_F(ModemPanelTest, CheckBoxClearsThenReloadsTheSavedTexts) {
    type({"10.0.0.1", "apn", "user", "pw"});
    ASSERT_EQ(panel.savePanel(), PanelSave::Saved);
    const std::string saved = diskBytes();
    type({"typed", "since", "the", "save"});
    queryStatus.showBytes("Ok!");

    click();
    EXPECT_EQ(checkBox(), Checked);
    expectEntries({"", "", "", ""});
    EXPECT_STREQ(window.textOf(queryStatus.control()), "Ok!");

    click();
    EXPECT_EQ(checkBox(), Unchecked);
    expectEntries({"10.0.0.1", "apn", "user", "pw"});
    EXPECT_EQ(diskBytes(), saved);  // neither click writes the file

    click();
    EXPECT_EQ(checkBox(), Checked);
    expectEntries({"", "", "", ""});
}

TEST_F(ModemPanelTest, CheckBoxWithoutFileLeavesTheEntriesEmpty) {
    type({"a", "b", "c", "d"});
    click();
    click();
    EXPECT_EQ(checkBox(), Unchecked);
    expectEntries({"", "", "", ""});
    EXPECT_EQ(diskBytes(), "<missing>");
}

}  // namespace
}  // namespace ostrakan
