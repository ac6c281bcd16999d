#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rig.h"
#include "settings/settings_file.h"

namespace ostrakan {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    static void putDiskBytes(const std::string& bytes) { test::writeFile(kSettingsFileName, bytes); }
    static std::string diskBytes() { return test::readFile(kSettingsFileName); }
    // Everything in the test's folder: what a replace left behind.
    static std::vector<std::string> namesInFolder() {
        std::vector<std::string> names;
        DIR* dir = opendir(".");
        while (dirent* e = dir ? readdir(dir) : nullptr)
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        if (dir) closedir(dir);
        return names;
    }
    static int write(const std::string& data) {
        return writeSettingsFile(reinterpret_cast<const std::uint8_t*>(data.data()),
                                 static_cast<std::uint8_t>(data.size()));
    }
    // Reads into a buffer with guard bytes after its 100 bytes.
    static int read(std::string* data) {
        std::uint8_t buffer[100 + 16];
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        std::size_t count = 12345;
        const int result = readSettingsFile(buffer, &count);
        for (std::size_t i = 100; i < sizeof buffer; ++i)
            EXPECT_EQ(buffer[i], 0xEE) << "written past 100 bytes at " << i;
        if (result == 0) {
            EXPECT_LE(count, 100u);
            data->assign(reinterpret_cast<const char*>(buffer), count < 100 ? count : 100);
        }
        return result;
    }

private:
    // A fresh current directory for each test: "_data.ini" is a relative name and
    // tests run in parallel.
    test::TempDir dir_;
};

TEST_F(SettingsFileTest, WriteStoresCrLfAndReadGivesLfBack) {
    struct Case {
        std::string written;
        std::string onDisk;
    };
    const Case cases[] = {
        {"\x41\x0A\x42\x0A", "\x41\x0D\x0A\x42\x0D\x0A"},
        {"10.0.0.1\napn\nu\n", "10.0.0.1\r\napn\r\nu\r\n"},
        {"no breaks", "no breaks"},
        {"\n\n", "\r\n\r\n"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"\xC1\xE5\xE7", "\xC1\xE5\xE7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.written));
        ASSERT_EQ(write(c.written), 0);
        EXPECT_EQ(diskBytes(), c.onDisk);
        std::string back;
        ASSERT_EQ(read(&back), 0);
        EXPECT_EQ(back, c.written);
    }
}

TEST_F(SettingsFileTest, CountZeroCreatesOrEmptiesTheFile) {
    ASSERT_EQ(writeSettingsFile(nullptr, 0), 0);
    EXPECT_EQ(diskBytes(), "");
    ASSERT_EQ(write("something\n"), 0);
    ASSERT_EQ(writeSettingsFile(reinterpret_cast<const std::uint8_t*>("x"), 0), 0);
    EXPECT_EQ(diskBytes(), "");
    std::string back = "unset";
    ASSERT_EQ(read(&back), 0);
    EXPECT_EQ(back, "");
}

TEST_F(SettingsFileTest, WriteReplacesALongerFile) {
    ASSERT_EQ(write(std::string(200, 'x')), 0);
    ASSERT_EQ(write("ab"), 0);
    EXPECT_EQ(diskBytes(), "ab");
}

TEST_F(SettingsFileTest, Write255BytesOfLineBreaks) {
    const std::string lfs(255, '\n');
    ASSERT_EQ(write(lfs), 0);
    std::string expected;
    for (int i = 0; i < 255; ++i) expected += "\r\n";
    EXPECT_EQ(diskBytes(), expected);
}

TEST_F(SettingsFileTest, ReadTranslatesAndStops) {
    struct Case {
        const char* name;
        std::string onDisk;
        std::string read;
    };
    const Case cases[] = {
        {"lone CR stays", "a\rb", "a\rb"},
        {"CR at end stays", "ab\r", "ab\r"},
        {"CR CR LF", "a\r\r\nb", "a\r\nb"},
        {"LF alone stays", "a\nb", "a\nb"},
        {"LF CR", "a\n\rb", "a\n\rb"},
        {"0x1A ends the read", "ab\x1A" "cd", "ab"},
        {"0x1A after CR", "a\r\x1A\r\n", "a\r"},
        {"0x1A first", "\x1A" "abc", ""},
        {"empty file", "", ""},
        {"zero bytes are data", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"101 bytes", std::string(101, 'k'), std::string(100, 'k')},
        {"100 bytes", std::string(100, 'k'), std::string(100, 'k')},
        {"99 bytes", std::string(99, 'k'), std::string(99, 'k')},
        {"150 CR LF is 150 LF, 100 taken", [] {
             std::string s;
             for (int i = 0; i < 150; ++i) s += "\r\n";
             return s;
         }(), std::string(100, '\n')},
        {"CR LF counted once", std::string(98, 'k') + "\r\n" + "z", std::string(98, 'k') + "\nz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putDiskBytes(c.onDisk);
        std::string back;
        ASSERT_EQ(read(&back), 0);
        EXPECT_EQ(back, c.read);
    }
}

TEST_F(SettingsFileTest, MissingFileReturnsOneAndLeavesCountUnset) {
    std::uint8_t buffer[100];
    std::fill(std::begin(buffer), std::end(buffer), 0x5A);
    std::size_t count = 777;
    EXPECT_EQ(readSettingsFile(buffer, &count), 1);
    EXPECT_EQ(count, 777u);
    for (std::uint8_t b : buffer) EXPECT_EQ(b, 0x5A);
}

TEST_F(SettingsFileTest, UnwritableFileReturnsOne) {
    // A directory in the file's place cannot be replaced.
    ASSERT_EQ(mkdir(kSettingsFileName, 0700), 0);
    EXPECT_EQ(write("x"), 1);
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{kSettingsFileName});  // no temporary left
    ASSERT_EQ(rmdir(kSettingsFileName), 0);
}

TEST_F(SettingsFileTest, ReplacedFileIsTheOwnersOnly) {
    // It holds the modem password: 0600 when created, and again when an older,
    // wider file is replaced, whatever the umask.
    const struct {
        const char* name;
        int oldMode;  // -1: no file before
    } cases[] = {{"new file", -1}, {"replaces 0644", 0644}, {"replaces 0600", 0600}};
    const mode_t umaskBefore = umask(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(kSettingsFileName);
        if (c.oldMode >= 0) {
            putDiskBytes("old\r\n");
            ASSERT_EQ(chmod(kSettingsFileName, static_cast<mode_t>(c.oldMode)), 0);
        }
        ASSERT_EQ(write("new\n"), 0);
        struct stat st {};
        ASSERT_EQ(stat(kSettingsFileName, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(diskBytes(), "new\r\n");
        EXPECT_EQ(namesInFolder(), std::vector<std::string>{kSettingsFileName});
    }
    umask(umaskBefore);
}

TEST_F(SettingsFileTest, AFullDiskLeavesTheOldFileWhole) {
    // A file-size limit of 4 bytes fails the write part-way, as a full disk does.
    putDiskBytes("old\r\nfile");
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit small = before;
    small.rlim_cur = 4;
    void (*const oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = write("a longer new content\n");
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(diskBytes(), "old\r\nfile");
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{kSettingsFileName});
}

}  // namespace
}  // namespace ostrakan
