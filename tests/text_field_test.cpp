#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "app/headless_window.h"
#include "fields/text_field.h"

namespace ostrakan {
namespace {

std::string viewOf(const TextField& f) {
    return std::string(reinterpret_cast<const char*>(f.data()), f.length());
}

TEST(TextField, NewFieldIsEmptyByteViewWithoutControl) {
    TextField f;
    EXPECT_TRUE(f.byteMode());
    EXPECT_EQ(f.length(), 0u);
    EXPECT_EQ(f.control(), ControlHandle{0});
    f.selectText();
    EXPECT_FALSE(f.byteMode());
    EXPECT_EQ(f.length(), 0u);
}

struct CapCase {
    const char* name;
    bool byteView;
    std::size_t assigned;
    std::size_t kept;
};

void PrintTo(const CapCase& c, std::ostream* os) { *os << c.name; }

class TextFieldAssignCap : public ::testing::TestWithParam<CapCase> {};

TEST_P(TextFieldAssignCap, KeepsAtMostTheViewCapacity) {
    const CapCase& c = GetParam();
    std::string source(c.assigned, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>('a' + i % 26);
    TextField f;
    if (c.byteView) f.selectBytes(); else f.selectText();
    f.assign(source.data(), source.size());
    ASSERT_EQ(f.length(), c.kept);
    EXPECT_EQ(viewOf(f), source.substr(0, c.kept));
}

INSTANTIATE_TEST_SUITE_P(
    Views, TextFieldAssignCap,
    ::testing::Values(CapCase{"bytes0", true, 0, 0}, CapCase{"bytes254", true, 254, 254},
                      CapCase{"bytes255", true, 255, 255}, CapCase{"bytes256", true, 256, 255},
                      CapCase{"bytes300", true, 300, 255}, CapCase{"text764", false, 764, 764},
                      CapCase{"text765", false, 765, 765}, CapCase{"text766", false, 766, 765},
                      CapCase{"text800", false, 800, 765}),
    [](const ::testing::TestParamInfo<CapCase>& info) { return std::string(info.param.name); });

struct ReadCase {
    const char* name;
    bool byteView;
    std::size_t typed;
    std::size_t read;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class TextFieldReadControl : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TextFieldReadControl, ReadsAtMostCapacityMinusOne) {
    const ReadCase& c = GetParam();
    HeadlessWindow w;
    TextField f;
    f.createEdit(0, 0, 10, 10, w, 1);
    std::string typed(c.typed, 'x');
    for (std::size_t i = 0; i < typed.size(); ++i) typed[i] = static_cast<char>('A' + i % 26);
    w.typeInto(f.control(), typed.c_str());
    if (c.byteView) f.selectBytes(); else f.selectText();
    // Stale content in the view must be gone after the read.
    const std::string stale(700, 'z');
    f.assign(stale.data(), stale.size());
    f.readControl();
    ASSERT_EQ(f.length(), c.read);
    EXPECT_EQ(viewOf(f), typed.substr(0, c.read));
}

INSTANTIATE_TEST_SUITE_P(
    Views, TextFieldReadControl,
    ::testing::Values(ReadCase{"bytesEmpty", true, 0, 0}, ReadCase{"bytes5", true, 5, 5},
                      ReadCase{"bytes254", true, 254, 254}, ReadCase{"bytes255", true, 255, 254},
                      ReadCase{"bytes300", true, 300, 254}, ReadCase{"text764", false, 764, 764},
                      ReadCase{"text765", false, 765, 764}, ReadCase{"text300", false, 300, 300},
                      ReadCase{"text1000", false, 1000, 764}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(TextField, ByteViewShowsControlBytesAsBullets) {
    HeadlessWindow w;
    TextField f;
    f.createEdit(0, 0, 10, 10, w, 1);
    f.selectBytes();
    const std::uint8_t raw[] = {0x41, 0x00, 0x0D, 0xC0};
    f.assign(raw, sizeof raw);
    f.showInControl();
    const HeadlessWindow::Control* c = w.controlById(1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(std::string(c->text, c->textLength), std::string("\x41\x95\x95\xC0", 4));

    // Every byte below 0x20 becomes a bullet, 0x20 and up pass unchanged.
    std::uint8_t all[255];
    for (int i = 0; i < 255; ++i) all[i] = static_cast<std::uint8_t>(i + 1 < 255 ? i : 0xFF);
    f.assign(all, sizeof all);
    f.showInControl();
    ASSERT_EQ(c->textLength, 255u);
    for (int i = 0; i < 255; ++i) {
        SCOPED_TRACE(i);
        const std::uint8_t expected = all[i] < 0x20 ? 0x95 : all[i];
        EXPECT_EQ(static_cast<std::uint8_t>(c->text[i]), expected);
    }
}

TEST(TextField, TextViewShowsUnchangedUpToFirstZero) {
    HeadlessWindow w;
    TextField f;
    f.createMultilineEdit(0, 0, 10, 10, w, 1);
    f.selectText();
    const std::uint8_t raw[] = {0x41, 0x00, 0x0D, 0xC0};
    f.assign(raw, sizeof raw);
    EXPECT_EQ(f.length(), 4u);
    f.showInControl();
    EXPECT_STREQ(w.textOf(f.control()), "A");

    f.assign("a\r\nb\x01", 5);  // control characters stay as they are
    f.showInControl();
    EXPECT_STREQ(w.textOf(f.control()), "a\r\nb\x01");

    const std::string full(765, 'q');
    f.assign(full.data(), full.size());
    f.showInControl();
    EXPECT_EQ(std::string(w.textOf(f.control())), full);
}

TEST(TextField, ViewsAreIndependent) {
    HeadlessWindow w;
    TextField f;
    f.createEdit(0, 0, 10, 10, w, 1);
    f.selectText();
    f.assign("text", 4);
    f.selectBytes();
    f.assign("bytes!", 6);
    f.selectText();
    EXPECT_EQ(viewOf(f), "text");
    f.showInControl();
    EXPECT_STREQ(w.textOf(f.control()), "text");
    f.clearSelected();
    EXPECT_EQ(f.length(), 0u);
    f.selectBytes();
    EXPECT_EQ(viewOf(f), "bytes!");

    // Reading the control fills only the selected view.
    w.typeInto(f.control(), "typed");
    f.readControl();
    EXPECT_EQ(viewOf(f), "typed");
    f.selectText();
    EXPECT_EQ(f.length(), 0u);
}

TEST(TextField, AssignShorterClearsTheRestOfTheView) {
    TextField f;
    f.assign("abcdef", 6);
    f.assign("xy", 2);
    ASSERT_EQ(f.length(), 2u);
    // The storage past the count is zero.
    EXPECT_EQ(std::memcmp(f.data(), "xy\0\0\0\0", 6), 0);
}

TEST(TextField, NullControlReadsEmptyAndShowsNothing) {
    // A window that cannot make another control leaves the field without one.
    HeadlessWindow w;
    while (w.controlCount() < HeadlessWindow::kMaxControls)
        w.createControl(ControlKind::Edit, 0, 0, 1, 1, 1, "busy");
    const int textCalls = w.setTextCalls;
    for (bool byteView : {true, false}) {
        SCOPED_TRACE(byteView);
        TextField f;
        f.createEdit(0, 0, 1, 1, w, 2);
        ASSERT_EQ(f.control(), ControlHandle{0});
        if (byteView) f.selectBytes(); else f.selectText();
        f.assign("old", 3);
        f.readControl();
        EXPECT_EQ(f.length(), 0u);
        f.assign("x", 1);
        f.showInControl();
        f.blankControl();
        EXPECT_EQ(viewOf(f), "x");
    }
    TextField never;
    never.readControl();
    never.showInControl();
    never.blankControl();
    EXPECT_EQ(never.length(), 0u);
    EXPECT_EQ(w.setTextCalls, textCalls);
    for (std::size_t i = 0; i < w.controlCount(); ++i) EXPECT_STREQ(w.controlAt(i)->text, "busy");
}

TEST(TextField, CreateTwiceKeepsTheFirstControl) {
    HeadlessWindow w;
    TextField f;
    f.createEdit(1, 2, 3, 4, w, 10);
    const ControlHandle first = f.control();
    ASSERT_NE(first, ControlHandle{0});
    f.createMultilineEdit(5, 6, 7, 8, w, 11);
    EXPECT_EQ(f.control(), first);
    EXPECT_EQ(w.controlCount(), 1u);
    const HeadlessWindow::Control* c = w.controlById(10);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, ControlKind::Edit);
    EXPECT_EQ(c->textLength, 0u);
}

TEST(TextField, BlankControlLeavesViewsAlone) {
    HeadlessWindow w;
    TextField f;
    f.createEdit(0, 0, 1, 1, w, 1);
    f.assign("keep", 4);
    f.showInControl();
    f.blankControl();
    EXPECT_STREQ(w.textOf(f.control()), "");
    EXPECT_EQ(viewOf(f), "keep");
}

TEST(TextField, CopyOutWritesExactlyCountBytes) {
    struct Case {
        bool byteView;
        std::size_t n;
    };
    const Case cases[] = {{true, 0}, {true, 1}, {true, 255}, {false, 0}, {false, 3}, {false, 765}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "byteView=" << c.byteView << " n=" << c.n);
        TextField f;
        if (c.byteView) f.selectBytes(); else f.selectText();
        std::string source(c.n, '\0');
        for (std::size_t i = 0; i < c.n; ++i) source[i] = static_cast<char>(0x30 + i % 40);
        f.assign(source.data(), source.size());
        constexpr std::size_t kGuard = 16;
        std::uint8_t out[kGuard + 765 + kGuard];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(f.copyOut(out + kGuard), c.n);
        EXPECT_EQ(std::memcmp(out + kGuard, source.data(), c.n), 0);
        for (std::size_t i = 0; i < sizeof out; ++i) {
            if (i >= kGuard && i < kGuard + c.n) continue;
            ASSERT_EQ(out[i], 0xEE) << "byte " << i << " written";
        }
    }
}

TEST(TextField, ShowBytesSelectsByteView) {
    HeadlessWindow w;
    TextField f;
    f.createEdit(0, 0, 1, 1, w, 1);
    f.selectText();
    f.showBytes("Ok!");
    EXPECT_TRUE(f.byteMode());
    EXPECT_STREQ(w.textOf(f.control()), "Ok!");
    EXPECT_EQ(viewOf(f), "Ok!");
}

}  // namespace
}  // namespace ostrakan
