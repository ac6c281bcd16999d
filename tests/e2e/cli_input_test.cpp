// Bad input from real life, end to end: trace files the simulator must refuse,
// links it must not replace, traces that must not hold the password, and (with
// the tool) password sources, huge profiles and the C locale. Each table is one
// concern; every refusal must leave the line untouched.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/child_process.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace e2e = ostrakan::e2e;

using e2e::Result;
using e2e::slurp;

class CliInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/ostrakan-input-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        work = dir;
        link = (work / "com7").string();
        simTrace = (work / "sim.trace").string();
    }

    void TearDown() override {
        stopSim();
        std::error_code ec;
        fs::remove_all(work, ec);
    }

    // Runs `args` (the program first) in <work> with `env` over a clean port and
    // locale, `input` on stdin; kills it after timeoutMs.
    Result run(std::vector<std::string> args, std::vector<std::string> env = {}, const std::string& input = "",
               int timeoutMs = 30000) {
        const e2e::ToolFiles files{work / "run.in", work / "run.out", work / "run.err"};
        { std::ofstream(files.input, std::ios::binary) << input; }
        int done = -1;
        const pid_t pid = e2e::spawnTool(std::move(args), work, std::move(env), files, &done);
        return e2e::finishTool(pid, done, files, timeoutMs);
    }

    Result cli(std::vector<std::string> args, std::vector<std::string> env = {}, const std::string& input = "") {
        args.insert(args.begin(), OSTRAKAN_CLI_PATH);
        return run(args, env, input);
    }

    // The simulator linked as <work>/com7, tracing to simTrace.
    void startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {OSTRAKAN_SIM_PATH, "--link", link, "--trace-file", simTrace};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<std::string> printed;
        simPid = e2e::startServer(std::move(args), work / "sim.err", 1, &printed);
        ASSERT_FALSE(printed.empty());
        ASSERT_NE(printed[0].find("/dev/pts/"), std::string::npos) << slurp(work / "sim.err");
    }

    void stopSim() {
        if (simPid <= 0) return;
        ::kill(simPid, SIGTERM);
        ::waitpid(simPid, nullptr, 0);
        simPid = -1;
    }

    // What the simulator received (its RX lines), bytes in hex as traced.
    std::vector<std::string> requests() const {
        std::vector<std::string> v;
        std::istringstream in(slurp(simTrace));
        for (std::string line; std::getline(in, line);) {
            const std::size_t rx = line.find(" RX ");
            if (line[0] != '#' && rx != std::string::npos) v.push_back(line.substr(rx + 4));
        }
        return v;
    }

    fs::path work;
    std::string link, simTrace;
    pid_t simPid = -1;
};

#define EXPECT_RESULT(r, code) EXPECT_EQ((r).status, code) << "stdout: " << (r).out << "\nstderr: " << (r).err

// Each row: a --replay file the simulator must refuse with exit 2 at once,
// before it makes a pseudo-terminal or serves anything.
TEST_F(CliInputTest, TheSimulatorRefusesABadReplayTrace) {
    const std::string header = "# ostrakan-cli 1.1.0 trace, 9600 8N1, started 2026-12-07T12:00:00Z\n";
    const struct {
        const char* name;
        std::string text;  // the file's text; "" and no file: see path
        std::string path;  // a path of its own instead of a file with text
        const char* error;
    } rows[] = {
        {"stamp too large for its integer", header + "+99999999999999999999.110 TX 41 54 0D 0A |AT..|\n", "",
         "is not a time stamp"},
        {"empty", "", "", "holds no session"},
        {"header only", header, "", "holds no request"},
        {"a folder", "", work.string(), "directory"},
        {"a device", "", "/dev/zero", "is a device"},
        {"missing", "", (work / "none.trace").string(), "does not exist"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = row.path;
        if (path.empty()) {
            path = (work / "bad.trace").string();
            std::ofstream(path, std::ios::binary) << row.text;
        }
        const Result r = run({OSTRAKAN_SIM_PATH, "--replay", path, "--link", link}, {}, "", 5000);
        EXPECT_RESULT(r, 2);
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");  // no pseudo-terminal was offered
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
}

// Each row: what lies at the --link path; only a link (or nothing) is replaced.
TEST_F(CliInputTest, TheSimulatorReplacesOnlyALinkAtItsLinkPath) {
    const fs::path path = work / "com7";
    const struct {
        const char* name;
        int status;
        void (*make)(const fs::path&);
    } rows[] = {
        {"a regular file", 2, [](const fs::path& p) { std::ofstream(p) << "keep me"; }},
        {"a folder", 2, [](const fs::path& p) { fs::create_directory(p); }},
        {"a stale link", 0, [](const fs::path& p) { fs::create_symlink("/dev/pts/nonexistent", p); }},
        {"nothing", 0, [](const fs::path&) {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code ec;
        fs::remove_all(path, ec);
        row.make(path);
        if (row.status == 2) {
            const Result r = run({OSTRAKAN_SIM_PATH, "--link", path.string()}, {}, "", 5000);
            EXPECT_RESULT(r, 2);
            EXPECT_NE(r.err.find("is not a symbolic link"), std::string::npos) << r.err;
            EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
            if (fs::is_regular_file(fs::symlink_status(path))) {
                EXPECT_EQ(slurp(path), "keep me");
            }
            // --link-dir keeps to the same rule for each comK.
            const Result units = run({OSTRAKAN_SIM_PATH, "--units", "7", "--link-dir", work.string()}, {}, "", 5000);
            EXPECT_RESULT(units, 2);
        } else {
            startSim();
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path)));
            EXPECT_EQ(fs::read_symlink(path).string().rfind("/dev/pts/", 0), 0u);
            stopSim();
            EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
        }
    }
}

// A modem write traced on both sides: neither trace holds the password, in hex
// or as text, yet the tool's trace replays for a write with another password.
TEST_F(CliInputTest, ATraceOfAModemWriteHoldsNoPassword) {
    startSim();
    const std::string cliTrace = (work / "cli.trace").string();
    const std::string password = "Sekret-42";
    const std::string passwordHex = "53 65 6B 72 65 74 2D 34 32";
    Result r = cli({"-p", link, "--trace-file", cliTrace, "modem", "write", "--ip", "203.0.113.5", "--apn", "m2m",
                    "--user", "fieldop", "--password", password});
    EXPECT_RESULT(r, 0);
    stopSim();
    const std::string hidden = "22 2C 22 ** ** ** ** ** ** ** ** ** 22 0D 0A |AT^SICS=0,\"passwd\",\"*********\"..|";
    for (const std::string& trace : {cliTrace, simTrace}) {
        SCOPED_TRACE(trace);
        const std::string text = slurp(trace);
        EXPECT_EQ(text.find(password), std::string::npos) << text;
        EXPECT_EQ(text.find(passwordHex), std::string::npos) << text;
        EXPECT_NE(text.find(hidden), std::string::npos) << text;
        // The other entries stay readable for support.
        EXPECT_NE(text.find("AT^SICS=0,\"user\",\"fieldop\""), std::string::npos);
        EXPECT_NE(text.find("socktcp://203.0.113.5:65534"), std::string::npos);
    }

    // Replayed, the recording answers a write with another password of another length.
    startSim({"--replay", cliTrace});
    r = cli({"-p", link, "modem", "write", "--ip", "203.0.113.5", "--apn", "m2m", "--user", "fieldop",
             "--password", "other"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "Ok!\n");
}

// Each row: a password source that must be refused with exit 2 before any byte
// reaches the unit or "_data.ini" is written; then the sources that are taken.
TEST_F(CliInputTest, EachBadPasswordSourceIsRefusedBeforeAnythingIsSent) {
    startSim();
    { std::ofstream(work / "empty"); }
    { std::ofstream(work / "blank-first") << "\nsecond\n"; }
    { std::ofstream(work / "big") << std::string(5000, 'p'); }
    { std::ofstream(work / "profile.json") << R"({"format": "ostrakan-profile/1", "modem": {"ip": "1.2.3.4", )"
                                              R"("apn": "a", "user": "u", "password": "pw"}})"; }
    fs::create_directory(work / "folder");
    const std::vector<std::string> write = {"-p", link, "modem", "write", "--ip", "1.2.3.4", "--apn", "a",
                                            "--user", "u"};
    const struct {
        const char* name;
        std::vector<std::string> args;  // after the modem write's entries, or a whole restore
        std::string input;
        const char* error;
    } rows[] = {
        {"empty file", {"--password-file", "empty"}, "", "the first line is empty"},
        {"empty first line", {"--password-file", "blank-first"}, "", "the first line is empty"},
        {"folder", {"--password-file", "folder"}, "", "is a folder"},
        {"device", {"--password-file", "/dev/zero"}, "", "is a device"},
        {"over 4 KiB", {"--password-file", "big"}, "", "larger than 4096 bytes"},
        {"missing", {"--password-file", "none"}, "", "No such file"},
        {"end of input", {"--password", "-"}, "", "no password read"},
        {"empty line", {"--password", "-"}, "\n", "no password read"},
        {"line over 4 KiB", {"--password", "-"}, std::string(5000, 'p') + "\n", "longer than 4 KiB"},
        {"restore, empty file", {"restore", "profile.json", "--password-file", "empty"}, "", "the first line is empty"},
        {"restore, device", {"restore", "profile.json", "--password-file", "/dev/zero"}, "", "is a device"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = row.args[0] == "restore" ? std::vector<std::string>{"-p", link} : write;
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Result r = cli(args, {}, row.input);
        EXPECT_RESULT(r, 2);
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // one line
        EXPECT_TRUE(requests().empty()) << "bytes reached the unit";
        EXPECT_FALSE(fs::exists(work / "_data.ini"));
    }

    // Taken: a first line after a byte-order mark, and an empty password asked
    // for in so many words. The trace shows how many bytes went.
    { std::ofstream(work / "bom") << "\xEF\xBB\xBFsecret\r\nsecond\n"; }
    const struct {
        std::vector<std::string> args;
        const char* sent;
        const char* saved;
    } taken[] = {
        {{"--password-file", "bom"}, "22 ** ** ** ** ** ** 22 0D 0A", "1.2.3.4\r\na\r\nu\r\nsecret"},
        {{"--password", ""}, "22 22 0D 0A", "1.2.3.4\r\na\r\nu\r\n"},
    };
    for (const auto& t : taken) {
        SCOPED_TRACE(t.sent);
        std::vector<std::string> args = write;
        args.insert(args.end(), t.args.begin(), t.args.end());
        const Result r = cli(args);
        EXPECT_RESULT(r, 0);
        const auto sent = requests();
        // "...passwd",VALUE CR LF
        const std::string line = "73 73 77 64 22 2C " + std::string(t.sent) + " |";
        EXPECT_NE(std::find_if(sent.begin(), sent.end(),
                               [&](const std::string& s) { return s.find(line) != std::string::npos; }),
                  sent.end());
        EXPECT_EQ(slurp(work / "_data.ini"), t.saved);
    }
}

// In the C locale (cron, systemd units, many SSH sessions) texts are taken as
// UTF-8: "Иван" reaches the unit in 1251, never as its UTF-8 bytes, the same
// from "modem write" and from a profile's "restore"; bytes that are no UTF-8 are
// refused before anything is sent.
TEST_F(CliInputTest, TheCLocaleSendsNoUtf8Bytes) {
    startSim();
    const std::string ivan1251 = "22 C8 E2 E0 ED 22";
    { std::ofstream(work / "profile.json") << R"({"format": "ostrakan-profile/1", "modem": {"ip": "1.2.3.4", )"
                                              R"("apn": "a", "user": "Иван", "password": "pw"}})"; }
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        bool sent;
    } rows[] = {
        {"modem write",
         {"modem", "write", "--ip", "1.2.3.4", "--apn", "a", "--user", "Иван", "--password", "pw"}, 0, true},
        {"restore", {"restore", "profile.json"}, 0, true},
        {"bytes that are no UTF-8", {"modem", "write", "--user", "\xC8\xE2\xE0\xED"}, 2, false},
    };
    for (const char* locale : {"LC_ALL=C", "LC_ALL=POSIX"}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(locale) + " " + row.name);
            std::ofstream(simTrace, std::ios::trunc).close();
            std::vector<std::string> args = {"-p", link};
            args.insert(args.end(), row.args.begin(), row.args.end());
            const Result r = cli(args, {locale});
            EXPECT_RESULT(r, row.status);
            const auto sent = requests();
            EXPECT_EQ(sent.empty(), !row.sent);
            bool user1251 = false;
            for (const std::string& s : sent) {
                EXPECT_EQ(s.find(" D0 "), std::string::npos) << s;  // Cyrillic's UTF-8 lead bytes
                EXPECT_EQ(s.find(" D1 "), std::string::npos) << s;
                user1251 = user1251 || s.find(ivan1251) != std::string::npos;
            }
            EXPECT_EQ(user1251, row.sent);
        }
    }
    // Read back in the C locale, the user shows as UTF-8.
    const Result r = cli({"-p", link, "modem", "read"}, {"LC_ALL=C"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.out.find("User: Иван\n"), std::string::npos) << r.out;
}

// Each row: a profile that is no profile a unit could hold: refused with exit 2,
// nothing sent, and the tool's memory stays far below the file's size.
TEST_F(CliInputTest, AHugeProfileIsRefusedWithBoundedMemory) {
    startSim();
    const fs::path big = work / "big.json";
    { std::ofstream(big) << R"({"format": "ostrakan-profile/1", "modem": {"apn": ")"; }
    fs::resize_file(big, 52 * 1024 * 1024);  // 52 MB, mostly zero bytes (sparse)
    fs::create_directory(work / "folder.json");
    const char* const files[] = {"/dev/zero", "big.json", "folder.json"};
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const Result r = cli({"-p", link, "restore", file});
        EXPECT_RESULT(r, 2);
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_LT(r.maxRssKb, 32 * 1024) << "the file was read whole";
        EXPECT_TRUE(requests().empty());
    }
}

}  // namespace
