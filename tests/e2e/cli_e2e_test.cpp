// ostrakan-cli against ostrakan-sim over a pseudo-terminal: every command, the
// bytes on the line (from the simulator's trace), and the faults the simulator
// can play. Real time: each case is one or two short runs of the tool.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tools/json/json_reader.h"
#include "version.h"

namespace {

namespace fs = std::filesystem;
namespace e2e = ostrakan::e2e;
namespace json_reader = ostrakan::json_reader;

using e2e::Result;
using e2e::slurp;

// Bytes from "0A 21 AA" notation.
std::string hex(const char* text) {
    std::string s;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) s += static_cast<char>(std::stoi(tok, nullptr, 16));
    return s;
}

struct TraceLine {
    std::string direction;
    std::string bytes;
    long long ms = -1;  // a session trace's "+S.mmm" in ms; -1 in a plain trace
};

// "12:00:01.234 RX 0A 21 AA |.!.|" or "+1.234 RX ..." -> {RX, bytes, ms}; the
// header lines of session traces are skipped.
std::vector<TraceLine> parseTrace(const std::string& text) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string time, dir, tok;
        if (line[0] == '#' || !(words >> time >> dir)) continue;
        TraceLine t{dir, ""};
        if (time[0] == '+') t.ms = std::stoll(time.substr(1, time.size() - 5)) * 1000 + std::stoll(time.substr(time.size() - 3));
        // A hidden password byte ("**") reads as '*'.
        while (words >> tok && tok[0] != '|')
            t.bytes += tok == "**" ? '*' : static_cast<char>(std::stoi(tok, nullptr, 16));
        lines.push_back(t);
    }
    return lines;
}

class CliE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/ostrakan-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        work = dir;
        link = (work / "com7").string();
        traceFile = (work / "trace.log").string();
    }

    void TearDown() override {
        stopSim();
        for (pid_t pid : moreSims) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        std::error_code ec;
        fs::remove_all(work, ec);
    }

    // Starts the simulator on a new pseudo-terminal linked as <work>/com7, so that
    // with OSTRAKAN_DEVICES=<work> the port COM7 reaches it (linked false: the
    // extra options say where).
    void startSim(std::vector<std::string> extra = {}, bool linked = true) {
        simPid = spawnSim(linked ? link : std::string(), traceFile, extra, &ptyPath);
    }

    // A simulator linked as `simLink` (none when empty), tracing to `trace`; returns its pid.
    pid_t spawnSim(const std::string& simLink, const std::string& trace, std::vector<std::string> extra,
                   std::string* pty) {
        std::vector<std::string> args = {OSTRAKAN_SIM_PATH, "--trace-file", trace};
        if (!simLink.empty()) args.insert(args.end(), {"--link", simLink});
        args.insert(args.end(), extra.begin(), extra.end());
        // Its first line of output is the pseudo-terminal's path: then it serves.
        std::vector<std::string> printed;
        const pid_t pid = e2e::startServer(std::move(args), work / "sim.err", 1, &printed);
        *pty = printed.empty() ? std::string() : printed[0];
        EXPECT_NE(pty->find("/dev/pts/"), std::string::npos) << slurp(work / "sim.err");
        return pid;
    }

    void stopSim() {
        if (simPid <= 0) return;
        ::kill(simPid, SIGTERM);
        int status = 0;
        ::waitpid(simPid, &status, 0);
        simPid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "the simulator did not end cleanly on SIGTERM: " << status << slurp(work / "sim.err");
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link outlived the simulator";
    }

    // env: "NAME=value" settings for the tool, over a clean OSTRAKAN_PORT and locale.
    Result cli(std::vector<std::string> args, std::vector<std::string> env = {}, int timeoutMs = 60000) {
        args.insert(args.begin(), OSTRAKAN_CLI_PATH);
        const e2e::ToolFiles files{{}, stdoutTo.empty() ? work / "cli.out" : fs::path(stdoutTo), work / "cli.err"};
        int done = -1;
        const pid_t pid = e2e::spawnTool(std::move(args), work, std::move(env), files, &done);
        return e2e::finishTool(pid, done, files, timeoutMs, stdoutTo.empty());
    }

    // Starts the tool with --trace and waits until its trace shows its first
    // hand-off: by then it has the port. *traced is the read end of its stderr.
    pid_t startTraced(std::vector<std::string> args, int* traced) {
        args.insert(args.begin(), {OSTRAKAN_CLI_PATH, "--trace"});
        int pipeFds[2];
        EXPECT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(work.c_str()) != 0) ::_exit(126);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(pipeFds[1], STDERR_FILENO);
            ::close(pipeFds[0]);
            e2e::execArgs(args);
        }
        ::close(pipeFds[1]);
        *traced = pipeFds[0];
        std::string trace;
        pollfd p{pipeFds[0], POLLIN, 0};
        while (trace.find(" TX ") == std::string::npos && ::poll(&p, 1, 20000) > 0) {
            char c[256];
            const ssize_t n = ::read(pipeFds[0], c, sizeof c);
            if (n <= 0) break;
            trace.append(c, static_cast<std::size_t>(n));
        }
        EXPECT_NE(trace.find(" TX "), std::string::npos) << trace;
        return pid;
    }

    // What the program sent (the simulator's RX lines), in order.
    std::vector<std::string> requests() {
        std::vector<std::string> v;
        for (const TraceLine& t : parseTrace(slurp(traceFile)))
            if (t.direction == "RX") v.push_back(t.bytes);
        return v;
    }
    std::vector<std::string> answers() {
        std::vector<std::string> v;
        for (const TraceLine& t : parseTrace(slurp(traceFile)))
            if (t.direction == "TX") v.push_back(t.bytes);
        return v;
    }

    fs::path work;
    std::string stdoutTo;  // where cli() sends the tool's stdout instead of a file it reads back
    std::string link, traceFile, ptyPath;
    pid_t simPid = -1;
    std::vector<pid_t> moreSims;  // spawnSim's, ended by TearDown
};

#define ASSERT_RESULT_OK(r) ASSERT_EQ((r).status, 0) << "stdout: " << (r).out << "\nstderr: " << (r).err
#define EXPECT_RESULT(r, code) EXPECT_EQ((r).status, code) << "stdout: " << (r).out << "\nstderr: " << (r).err

TEST_F(CliE2eTest, ReadPeriodSendsTheReadFrameAndPrintsThreeDigits) {
    startSim();
    const Result r = cli({"--port", link, "read", "period"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "010\n");
    EXPECT_EQ(requests(), std::vector<std::string>{hex("0A 21 AA 4E 41 00 00 00 00 00 00 00")});
}

TEST_F(CliE2eTest, ComNameReachesTheSimulatorThroughTheDevicesLink) {
    startSim();
    const Result r = cli({"--port", "COM7", "read", "address"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "007\n");
    EXPECT_EQ(requests(), std::vector<std::string>{hex("0A 21 AA 4E 40 00 00 00 00 00 00 00")});
    const Result ports = cli({"ports"});
    EXPECT_RESULT(ports, 0);
    EXPECT_NE(ports.out.find("COM7 " + link + " free"), std::string::npos) << ports.out;
}

TEST_F(CliE2eTest, WrittenAddressIsReadBackAsTheDevicesByte) {
    startSim();
    EXPECT_RESULT(cli({"--port", link, "write", "address", "300"}), 0);
    EXPECT_RESULT(cli({"--port", link, "write", "period", "120"}), 0);
    Result r = cli({"--port", link, "read", "address"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "044\n");  // the controller keeps 300 modulo 256
    r = cli({"--port", link, "read", "period"});
    EXPECT_EQ(r.out, "120\n");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], hex("0A 21 AA 30 41 54 44 50 31 33 30 30"));
    EXPECT_EQ(sent[1], hex("0A 21 AA 30 41 54 44 50 32 31 32 30"));
}

TEST_F(CliE2eTest, PhoneWriteAndRead) {
    startSim();
    EXPECT_RESULT(cli({"--port", link, "write", "phone2", "89"}), 0);
    EXPECT_RESULT(cli({"--port", link, "write", "sms", "89001234567"}), 0);
    // Phone 1 beginning with 2: its first bytes are those of a period write.
    EXPECT_RESULT(cli({"--port", link, "write", "phone1", "212"}), 0);
    Result r = cli({"--port", link, "read", "phone2"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "89\n");
    r = cli({"--port", link, "read", "sms"});
    EXPECT_EQ(r.out, "89001234567\n");
    r = cli({"--port", link, "read", "phone1"});
    EXPECT_EQ(r.out, "212\n");
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], hex("0A 21 AA 31 41 54 44 50 38 39 0D 0A"));
    EXPECT_EQ(sent[1], hex("0A 21 AA 32 41 54 44 50") + "89001234567\r\n");
    EXPECT_EQ(sent[2], hex("0A 21 AA 30 41 54 44 50 32 31 32 0D 0A"));
    EXPECT_EQ(sent[3], hex("0A 21 AA 4E 31 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent[5], hex("0A 21 AA 4E 30 00 00 00 00 00 00 00"));
}

TEST_F(CliE2eTest, ChannelsWriteExactlyTheListedBoxes) {
    startSim();
    EXPECT_RESULT(cli({"--port", link, "write", "channels", "1:A", "31:BX", "17:T", "17:BX"}), 0);
    const Result r = cli({"--port", link, "read", "channels"});
    EXPECT_RESULT(r, 0);
    std::string expected;
    for (int n = 1; n <= 31; ++n)
        expected += std::to_string(n) + (n == 1 ? " 1 0 0\n" : n == 17 ? " 0 1 1\n" : n == 31 ? " 0 0 1\n" : " 0 0 0\n");
    EXPECT_EQ(r.out, expected);
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 2u);
    std::string frame = hex("0A 21 AA 42");
    for (int n = 1; n <= 31; ++n) frame += static_cast<char>(n == 1 ? 1 : n == 17 ? 6 : n == 31 ? 4 : 0);
    EXPECT_EQ(sent[0], frame);
    EXPECT_EQ(sent[1], hex("0A 21 AA 4E 42 00 00 00 00 00 00 00"));
}

TEST_F(CliE2eTest, ModemWriteThenReadBack) {
    startSim();
    const Result w = cli({"--port", link, "modem", "write", "--ip", "203.0.113.5", "--apn", "m2m.example",
                          "--user", "fieldop", "--password", "pw"});
    EXPECT_RESULT(w, 0);
    EXPECT_EQ(w.out, "Ok!\n");
    EXPECT_EQ(slurp(work / "_data.ini"), "203.0.113.5\r\nm2m.example\r\nfieldop\r\npw");
    const auto sent = requests();
    const std::vector<std::string> expected = {
        "+++\r\n", "ATE0\r\n", "AT^SISS=0,\"srvType\",\"Socket\"\r\n",
        "AT^SISS=0,\"address\",\"socktcp://listener:65534\"\r\n", "AT^SISS=9,\"srvType\",\"Socket\"\r\n",
        "AT^SISS=9,\"address\",\"socktcp://203.0.113.5:65534\"\r\n", "AT^SICS=0,\"conType\",\"GPRS0\"\r\n",
        "AT^SICS=0,\"apn\",\"m2m.example\"\r\n", "AT^SICS=0,\"user\",\"fieldop\"\r\n",
        "AT^SICS=0,\"passwd\",\"**\"\r\n", "AT^SIPS=service,save,0\r\n", "AT^SIPS=service,save,9\r\n",
        "AT^SIPS=connection,save,0\r\n"};
    EXPECT_EQ(sent, expected);

    const Result r = cli({"--port", link, "modem", "read"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "IP Address: 203.0.113.5\nAPN: m2m.example\nUser: fieldop\n");
}

TEST_F(CliE2eTest, ModemWriteTakesTheOtherEntriesFromTheSettingsFile) {
    startSim({"--echo"});  // the modem starts with echo on: "ATE0" is answered echoed
    { std::ofstream(work / "_data.ini", std::ios::binary) << "198.51.100.9\r\nold.apn\r\nolduser\r\noldpw"; }
    const Result w = cli({"--port", link, "modem", "write", "--apn", "new.apn"});
    EXPECT_RESULT(w, 0);
    EXPECT_EQ(slurp(work / "_data.ini"), "198.51.100.9\r\nnew.apn\r\nolduser\r\noldpw");
    const auto said = answers();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0], "ATE0\r\r\nOK\r\n");
    const Result r = cli({"--port", link, "modem", "read"});
    EXPECT_EQ(r.out, "IP Address: 198.51.100.9\nAPN: new.apn\nUser: olduser\n");
}

TEST_F(CliE2eTest, WithoutInternetErasesTheProfilesSoReadFindsEmpty0) {
    startSim();
    const Result w = cli({"--port", link, "modem", "write", "--no-internet"});
    EXPECT_RESULT(w, 0);
    EXPECT_FALSE(fs::exists(work / "_data.ini"));  // this path does not save the panel
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 25u);
    EXPECT_EQ(sent[1], "AT^SIPS=all,reset,0\r\n");
    EXPECT_EQ(sent[7], "AT^SIPS=all,save,0\r\n");
    EXPECT_EQ(sent[19], "AT^SIPS=service,reset,9\r\n");
    EXPECT_EQ(sent[20], "AT^SIPS=service,save,9\r\n");
    EXPECT_EQ(sent[21], "ATE0\r\n");
    EXPECT_EQ(sent[24], "AT&W\r\n");
    const Result r = cli({"--port", link, "modem", "read"});
    EXPECT_RESULT(r, 1);
    EXPECT_EQ(r.err, "Empty0\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliE2eTest, ErrorAnswersEndTheQueryWithEmpty9OrError) {
    startSim({"--error", "AT^SIPS=service,load,9", "--error", "ATE0"});
    Result r = cli({"--port", link, "modem", "read"});
    EXPECT_RESULT(r, 1);  // ERROR to "ATE0": the query waits for OK until its deadline
    EXPECT_EQ(r.err, "Error!\n");
    stopSim();
    std::remove(traceFile.c_str());
    startSim({"--error", "AT^SIPS=service,load,9"});
    r = cli({"--port", link, "modem", "read"});
    EXPECT_RESULT(r, 1);
    EXPECT_EQ(r.err, "Empty9\n");
    EXPECT_EQ(answers().back(), "\r\nERROR\r\n");
}

TEST_F(CliE2eTest, SilenceIsATimeOut) {
    startSim({"--silent", "read:period"});
    const auto start = std::chrono::steady_clock::now();
    const Result r = cli({"--port", link, "read", "period"});
    EXPECT_RESULT(r, 1);
    EXPECT_NE(r.err.find("did not answer"), std::string::npos);
    EXPECT_EQ(r.out, "");
    // 60 ticks of 54 ms after the request.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3200));
}

TEST_F(CliE2eTest, ChunksUnderTheQuietPeriodMakeOneReply) {
    startSim({"--chunks", "read:phone1:3:60"});
    const Result r = cli({"--port", link, "read", "phone1"});
    EXPECT_RESULT(r, 0);
    EXPECT_EQ(r.out, "89161234567\n");
    EXPECT_EQ(answers().size(), 7u);  // 20 bytes in pieces of 3
}

TEST_F(CliE2eTest, ChunksOverTheQuietPeriodAreSeparateBurstsAndTheReadTimesOut) {
    // "0A 21" and "AA 41" ... each a burst of its own: none starts with the frame head.
    startSim({"--chunks", "read:period:2:260"});
    const Result r = cli({"--port", link, "read", "period"});
    EXPECT_RESULT(r, 1);
}

TEST_F(CliE2eTest, AnOverLongBurstIsCutAndTheReplyStillTaken) {
    startSim({"--long", "read:channels:1000"});
    const Result r = cli({"--port", link, "read", "channels"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.out.find("17 0 1 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("31 0 0 1\n"), std::string::npos) << r.out;
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(answers()[0].size(), 1000u);
}

TEST_F(CliE2eTest, ATruncatedChannelReplySetsTheChannelsItCarries) {
    startSim({"--truncate", "read:channels:20"});  // head, 'B' and channels 1..16
    const Result r = cli({"--port", link, "read", "channels"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.out.find("2 1 1 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("17 0 0 0\n"), std::string::npos) << r.out;  // not carried: left clear
    EXPECT_NE(r.out.find("31 0 0 0\n"), std::string::npos) << r.out;
    ASSERT_EQ(answers().size(), 1u);
    EXPECT_EQ(answers()[0].size(), 20u);
}

TEST_F(CliE2eTest, AValueReplyTooShortForItsByteIsNoAnswer) {
    startSim({"--truncate", "read:period:4"});  // the frame head and the selector only
    const Result r = cli({"--port", link, "read", "period"});
    EXPECT_RESULT(r, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no value"), std::string::npos) << r.err;
}

TEST_F(CliE2eTest, ASecondProgramOnTheSamePortIsToldItIsInUse) {
    startSim({"--delay", "AT:5000"});
    // The first keeps the port while it waits for the modem.
    int traced = -1;
    const pid_t first = startTraced({"--port", link, "modem", "read"}, &traced);
    const Result second = cli({"--port", link, "read", "period"});
    EXPECT_RESULT(second, 3);
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
    ::kill(first, SIGTERM);
    int status = 0;
    ::waitpid(first, &status, 0);
    ::close(traced);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM)
        << "SIGTERM ends the tool through its own exit path: " << status;
}

TEST_F(CliE2eTest, ADeviceThatHangsUpMidSessionEndsTheToolWithStatus3) {
    const struct {
        std::vector<std::string> command;
        const char* answered;  // requests answered before the hang-up
        int withinMs;          // from the start of the tool (the modem's steps pace themselves)
    } kCases[] = {
        {{"read", "period"}, "0", 1000},
        {{"write", "address", "300"}, "0", 1000},
        {{"modem", "read"}, "2", 6000},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.command[0] + " " + c.command[1]);
        std::remove(traceFile.c_str());
        startSim({"--hang-up-after", c.answered});
        std::vector<std::string> args = {"--port", "COM7"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        const auto start = std::chrono::steady_clock::now();
        const Result r = cli(args);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_RESULT(r, 3);
        EXPECT_NE(r.err.find("ostrakan-cli: COM7 (" + link + ") is lost: check the cable or the USB adapter\n"),
                  std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("sent"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(requests().size(), std::stoul(c.answered) + 1);  // the last one met the hang-up
        EXPECT_LT(took, std::chrono::milliseconds(c.withinMs));
        stopSim();
    }
}

TEST_F(CliE2eTest, PortFailuresAndRefusedInputHaveTheirExitStatus) {
    Result r = cli({"--port", "/dev/ostrakan-missing", "read", "period"});
    EXPECT_RESULT(r, 3);
    EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
    r = cli({"--port", "COM999", "read", "period"});
    EXPECT_RESULT(r, 2);
    EXPECT_NE(r.err.find("Name is wrong."), std::string::npos) << r.err;
    r = cli({"--port", "COM96", "read", "period"});  // /dev/ttyACM31: not on this machine
    EXPECT_RESULT(r, 3);

    startSim();
    EXPECT_RESULT(cli({"--port", link, "write", "period", "12"}), 2);
    EXPECT_RESULT(cli({"--port", link, "write", "period", "1a2"}), 2);
    EXPECT_RESULT(cli({"--port", link, "write", "phone1", "8901234567890123456"}), 2);
    EXPECT_RESULT(cli({"--port", link, "write", "channels", "32:A"}), 2);
    EXPECT_RESULT(cli({"--port", link, "write", "channels", "3:X"}), 2);
    EXPECT_RESULT(cli({"--port", link, "modem", "write", "--apn", std::string(79, 'a')}), 2);
    EXPECT_RESULT(cli({"--port", link, "modem", "write", "--ip", std::string(40, '1'), "--apn",
                       std::string(40, 'a'), "--user", std::string(17, 'u')}), 2);
    EXPECT_RESULT(cli({"--port", link, "modem", "write", "--no-internet", "--apn", "x"}), 2);
    EXPECT_RESULT(cli({"--port", link, "frobnicate"}), 2);
    EXPECT_RESULT(cli({}), 2);
    EXPECT_TRUE(requests().empty());  // nothing refused reached the line
    EXPECT_FALSE(fs::exists(work / "_data.ini"));
}

TEST_F(CliE2eTest, BuiltInSimulatorAnswersEveryRead) {
    for (const char* what : {"period", "address", "phone1", "phone2", "sms"}) {
        const Result r = cli({"--port", "sim", "read", what});
        EXPECT_RESULT(r, 0);
        EXPECT_FALSE(r.out.empty()) << what;
    }
    const Result t = cli({"--port", "sim", "--trace", "read", "period"});
    EXPECT_EQ(t.out, "010\n");
    const auto trace = parseTrace(t.err);
    ASSERT_EQ(trace.size(), 2u) << t.err;
    EXPECT_EQ(trace[0].direction, "TX");
    EXPECT_EQ(trace[0].bytes, hex("0A 21 AA 4E 41 00 00 00 00 00 00 00"));
    EXPECT_EQ(trace[1].direction, "RX");
    EXPECT_EQ(trace[1].bytes.substr(0, 5), hex("0A 21 AA 41 0A"));
}

TEST_F(CliE2eTest, OptionFormsHelpAndOneLineErrors) {
    startSim();
    const std::string usageHint = "Run with --help for more information.\n";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        std::string out;  // stdout begins with this
        std::string err;  // stderr holds this
    } kCases[] = {
        {{"--port", link, "read", "period"}, {}, 0, "010\n", ""},
        {{"--port=" + link, "read", "period"}, {}, 0, "010\n", ""},
        {{"-p", link, "read", "period"}, {}, 0, "010\n", ""},
        {{"read", "period", "--port", link}, {}, 0, "010\n", ""},
        {{"read", "period"}, {"OSTRAKAN_PORT=" + link}, 0, "010\n", ""},
        {{"read", "period", "-p", link}, {"OSTRAKAN_PORT=/dev/ostrakan-missing"}, 0, "010\n", ""},
        {{"read", "period", "--json", "-p", link}, {}, 0, "{\"period\": \"010\"}\n", ""},
        {{"--version"}, {}, 0, "ostrakan-cli " OSTRAKAN_VERSION "\n", ""},
        {{"--help"}, {}, 0, "Reads and writes", ""},
        {{"read", "--help"}, {}, 0, "read a parameter", ""},
        {{"write", "--help"}, {}, 0, "write a parameter", ""},
        {{"modem", "write", "--help"}, {}, 0, "write the entries", ""},
        {{"ports", "--help"}, {}, 0, "list the serial ports", ""},
        {{"-p", link, "read", "frob"}, {}, 2, "", usageHint},
        {{"-p", link, "read"}, {}, 2, "",
         "read: say what to read: period, address, phone1, phone2, sms or channels\n" + usageHint},
        {{"--frobnicate", "read", "period"}, {}, 2, "", usageHint},
        {{"modem", "write", "--password", "x", "--password-file", "f"}, {}, 2, "", usageHint},
        {{}, {}, 2, "", usageHint},
    };
    int reads = 0;
    for (const auto& c : kCases) {
        const Result r = cli(c.args, c.env);
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        EXPECT_EQ(r.status, c.status) << line << "\n" << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << line;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
        if (c.status == 2) {  // one line and the hint, not the whole usage text
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << line << "\n" << r.err;
        }
        if (c.out == "010\n" || c.out[0] == '{') ++reads;
    }
    const auto sent = requests();
    EXPECT_EQ(sent, std::vector<std::string>(reads, hex("0A 21 AA 4E 41 00 00 00 00 00 00 00")));
    EXPECT_EQ(cli({"--version"}).out, "ostrakan-cli " OSTRAKAN_VERSION "\n");
}

TEST_F(CliE2eTest, JsonDocuments) {
    startSim();
    std::string channels = "{\"channels\": [";
    for (int n = 1; n <= 31; ++n) {
        const bool a = n == 1 || n == 2, t = n == 2 || n == 17, bx = n == 31;
        channels += std::string(n > 1 ? ", " : "") + "{\"A\": " + (a ? "true" : "false") +
                    ", \"T\": " + (t ? "true" : "false") + ", \"BX\": " + (bx ? "true" : "false") + "}";
    }
    const struct {
        std::vector<std::string> args;
        std::string out;
    } kCases[] = {
        {{"read", "address"}, "{\"address\": \"007\"}\n"},
        {{"read", "sms"}, "{\"sms\": \"89990001122\"}\n"},
        {{"read", "channels"}, channels + "]}\n"},
        {{"modem", "read"}, "{\"ip\": \"192.0.2.10\", \"apn\": \"internet\", \"user\": \"gdata\"}\n"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> args = {"--json", "-p", link};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = cli(args);
        EXPECT_RESULT(r, 0);
        EXPECT_EQ(r.out, c.out);
    }
    const Result ports = cli({"ports", "--json"});
    EXPECT_RESULT(ports, 0);
    EXPECT_EQ(ports.out.front(), '[');
    EXPECT_EQ(ports.out.substr(ports.out.size() - 2), "]\n");
    EXPECT_NE(ports.out.find("{\"com\": \"COM7\", \"device\": \"" + link + "\", "), std::string::npos) << ports.out;
}

TEST_F(CliE2eTest, CyrillicIsCodePage1251OnTheLineAndInTheSettingsFile) {
    startSim();
    const std::vector<std::string> utf8 = {"LC_ALL=C.UTF-8"};
    { std::ofstream(work / "secret") << "пароль\nsecond line\n"; }
    Result r = cli({"-p", link, "modem", "write", "--ip", "203.0.113.5", "--apn", "m2m", "--user", "Иван",
                    "--password-file", (work / "secret").string()},
                   utf8);
    EXPECT_RESULT(r, 0);
    const std::string ivan = "\xC8\xE2\xE0\xED", parol = "\xEF\xE0\xF0\xEE\xEB\xFC";
    const std::string saved = "203.0.113.5\r\nm2m\r\n" + ivan + "\r\n" + parol;
    EXPECT_EQ(slurp(work / "_data.ini"), saved);
    struct stat st {};
    ASSERT_EQ(::stat((work / "_data.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the modem password";
    const auto sent = requests();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT^SICS=0,\"user\",\"" + ivan + "\"\r\n"), sent.end());
    // The trace hides the password's bytes but keeps their number: six in 1251.
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT^SICS=0,\"passwd\",\"******\"\r\n"), sent.end());

    r = cli({"-p", link, "modem", "read"}, utf8);
    EXPECT_EQ(r.out, "IP Address: 203.0.113.5\nAPN: m2m\nUser: Иван\n");
    r = cli({"-p", link, "--json", "modem", "read"});  // JSON is UTF-8 in any locale
    EXPECT_EQ(r.out, "{\"ip\": \"203.0.113.5\", \"apn\": \"m2m\", \"user\": \"Иван\"}\n");

    // A character 1251 cannot hold: refused before anything is sent or saved.
    const std::size_t before = requests().size();
    r = cli({"-p", link, "modem", "write", "--user", "中"}, utf8);
    EXPECT_RESULT(r, 2);
    EXPECT_NE(r.err.find("中"), std::string::npos) << r.err;
    EXPECT_RESULT(cli({"-p", link, "write", "sms", "8中"}, utf8), 2);
    EXPECT_EQ(requests().size(), before);
    EXPECT_EQ(slurp(work / "_data.ini"), saved);
}

TEST_F(CliE2eTest, CtrlCEndsTheWaitWith130AfterClosingThePort) {
    startSim({"--silent", "read:period"});
    int traced = -1;
    const pid_t pid = startTraced({"--port", link, "read", "period"}, &traced);
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(traced);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    // The port was given back: the next program opens it at once.
    EXPECT_RESULT(cli({"--port", link, "read", "address"}), 0);
}

// ---- whole units: dump, restore, provision -------------------------------------

void replaceFirst(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST_F(CliE2eTest, DumpRestoreDumpGivesTheSameProfile) {
    startSim();
    EXPECT_RESULT(cli({"-p", link, "dump", "-o", "unit.json"}), 0);
    std::string profile = slurp(work / "unit.json");
    // Another unit's settings: a change in every section, Cyrillic in the modem user.
    replaceFirst(profile, "\"period\": \"010\"", "\"period\": \"120\"");
    replaceFirst(profile, "89031112233", "89160000000");
    replaceFirst(profile, "{\"A\": false, \"T\": false, \"BX\": false}", "{\"A\": false, \"T\": true, \"BX\": true}");
    replaceFirst(profile, "\"user\": \"gdata\"", "\"user\": \"Иван\"");
    { std::ofstream(work / "other.json", std::ios::binary) << profile; }

    // The modem password cannot be read back, so a dump holds none: it comes from a file.
    { std::ofstream(work / "pw") << "secret\n"; }
    const Result r = cli({"-p", link, "restore", "other.json", "--password-file", "pw"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.err.find("restore: write modem\n"), std::string::npos) << r.err;  // a line per step off a terminal
    EXPECT_NE(r.err.find("restore: verify channels\n"), std::string::npos) << r.err;
    const auto sent = requests();
    EXPECT_NE(std::find(sent.begin(), sent.end(), hex("0A 21 AA 30 41 54 44 50 32 31 32 30")), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT^SICS=0,\"user\",\"\xC8\xE2\xE0\xED\"\r\n"), sent.end());

    const Result again = cli({"-p", link, "dump"});
    EXPECT_RESULT(again, 0);
    EXPECT_EQ(again.out, profile);
}

TEST_F(CliE2eTest, AWriteTheUnitDropsIsExit4AndAnUnsavedModemIsExit1) {
    startSim({"--ignore-writes", "write:period"});
    { std::ofstream(work / "p.json") << R"({"format": "ostrakan-profile/1", "controller": {"period": "120", "address": "009"}})"; }
    Result r = cli({"-p", link, "restore", "p.json"});
    EXPECT_RESULT(r, 4);
    EXPECT_NE(r.err.find("\nperiod: wrote 120, reads 010\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("address:"), std::string::npos) << r.err;  // that one took
    EXPECT_NE(r.err.find("(1 difference)"), std::string::npos) << r.err;
    EXPECT_RESULT(cli({"-p", link, "restore", "--no-verify", "p.json"}), 0);

    // "_data.ini" cannot be replaced (a folder of that name): the modem is written,
    // but the Write ends "NoSave".
    fs::create_directory(work / "_data.ini");
    { std::ofstream(work / "m.json") << R"({"format": "ostrakan-profile/1",
        "modem": {"ip": "203.0.113.5", "apn": "m2m", "user": "", "password": ""}})"; }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-p", link, "modem", "write", "--ip", "203.0.113.5", "--apn", "m2m", "--user", "",
                                   "--password", ""},
          std::vector<std::string>{"-p", link, "restore", "m.json"}}) {
        r = cli(args);
        EXPECT_RESULT(r, 1);
        EXPECT_NE(r.err.find("the modem took the entries, but _data.ini could not be written"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(requests().back(), "AT^SIPS=connection,save,0\r\n");
}

TEST_F(CliE2eTest, ProvisionRunsTheUnitsSideBySideAndReportsEach) {
    { std::ofstream(work / "p.json") << R"({"format": "ostrakan-profile/1",
        "controller": {"period": "120", "phone1": "89160000000"},
        "modem": {"ip": "203.0.113.5", "apn": "m2m", "user": "", "password": ""}})"; }
    std::vector<std::string> links, traces;
    for (int n = 1; n <= 4; ++n) {
        links.push_back((work / ("com" + std::to_string(n))).string());
        traces.push_back((work / ("trace" + std::to_string(n))).string());
        std::string pty;
        moreSims.push_back(spawnSim(links.back(), traces.back(), n == 3 ? std::vector<std::string>{"--silent", "*"}
                                                                     : std::vector<std::string>{}, &pty));
    }
    const auto units = [&](const std::string& report) {
        json_reader::Value root;
        std::string error;
        EXPECT_TRUE(json_reader::parse(slurp(work / report), &root, &error)) << error;
        const json_reader::Value* list = root.find("units");
        return list ? list->items : std::vector<json_reader::Value>{};
    };
    // One unit alone, for its time.
    EXPECT_RESULT(cli({"provision", "p.json", "--ports", links[0], "--report", "one.json"}), 0);
    const auto alone = units("one.json");
    ASSERT_EQ(alone.size(), 1u);
    const double single = std::stod(alone[0].find("seconds")->text);

    const Result r = cli({"provision", "p.json", "--ports", links[0] + "," + links[1] + "," + links[2] + "," + links[3],
                          "--report", "all.json"});
    EXPECT_RESULT(r, 1);
    const auto all = units("all.json");
    ASSERT_EQ(all.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const json_reader::Value& u = all[i];
        EXPECT_EQ(u.find("port")->text, links[i]);
        EXPECT_EQ(u.find("ok")->boolean, i != 2) << i;
        EXPECT_TRUE(u.find("differences")->items.empty()) << i;
        if (i == 2) {
            EXPECT_NE(u.find("error")->text.find("Error!"), std::string::npos) << u.find("error")->text;
            continue;
        }
        EXPECT_EQ(u.find("error")->type, json_reader::Value::Type::Null);
        EXPECT_LT(std::stod(u.find("seconds")->text), 2 * single) << "unit " << i << " waited for the others";
        Result period = cli({"-p", links[i], "read", "period"});
        EXPECT_EQ(period.out, "120\n") << i;
    }
    EXPECT_NE(r.err.find("3 of 4 units hold the profile"), std::string::npos) << r.err;
    // Four Writes replaced "_data.ini" at once: one whole file is left.
    EXPECT_EQ(slurp(work / "_data.ini"), "203.0.113.5\r\nm2m\r\n\r\n");
}

TEST_F(CliE2eTest, ABadProfileIsRefusedBeforeAnythingIsSent) {
    startSim();
    const struct {
        std::string text;
        std::string message;
    } kCases[] = {
        {R"({"format": "ostrakan-profile/1", "controller": {"period": "12"}})",
         "bad.json: controller.period: \"12\" is not three digits"},
        {R"({"format": "ostrakan-profile/1", "modem": {"apn": "m2m", "pasword": "x"}})",
         "bad.json: modem: unknown key \"pasword\""},
        {R"({"format": "ostrakan-profile/1", "controller": {"period": "120", "sms": "8中"}})",
         "bad.json: controller.sms: holds a character that code page 1251 cannot hold"},
        {R"({"format": "ostrakan-profile/1", "modem": {"apn": ")" + std::string(79, 'a') + R"("}})",
         "bad.json: modem.apn: 79 bytes, at most 78 fit"},
        {R"({"format": "ostrakan-profile/1", "controller": {"period": "120",}})", "bad.json: line 1, column"},
    };
    for (const auto& c : kCases) {
        { std::ofstream(work / "bad.json", std::ios::binary) << c.text; }
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"-p", link, "restore", "bad.json"},
              std::vector<std::string>{"provision", "bad.json", "--ports", link}}) {
            const Result r = cli(args);
            EXPECT_RESULT(r, 2);
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
    }
    EXPECT_RESULT(cli({"-p", link, "restore", "missing.json"}), 2);
    EXPECT_TRUE(requests().empty());
}

TEST_F(CliE2eTest, SeveralUnitsAnswerOnTheirOwnLinksWithTheirOwnFaults) {
    startSim({"--units", "3", "--link-dir", work.string(), "--silent", "2=*", "--ignore-writes", "3=write:period"},
             false);
    const struct {
        const char* port;
        std::vector<std::string> command;
        int status;
        const char* out;
    } kSteps[] = {
        {"COM2", {"read", "period"}, 1, ""},  // silent
        {"COM1", {"write", "period", "120"}, 0, ""},
        {"COM3", {"write", "period", "120"}, 0, ""},  // acknowledged, not kept
        {"COM1", {"read", "period"}, 0, "120\n"},
        {"COM3", {"read", "period"}, 0, "010\n"},
    };
    for (const auto& step : kSteps) {
        std::vector<std::string> args = {"--port", step.port};
        args.insert(args.end(), step.command.begin(), step.command.end());
        const Result r = cli(args);
        SCOPED_TRACE(std::string(step.port) + " " + step.command[0]);
        EXPECT_RESULT(r, step.status);
        EXPECT_EQ(r.out, step.out);
    }
    // Each unit traced its own line: what reached unit 3 is its write and its read.
    const auto unit3 = parseTrace(slurp(traceFile + ".3"));
    ASSERT_EQ(unit3.size(), 4u);
    EXPECT_EQ(unit3[0].bytes, hex("0A 21 AA 30 41 54 44 50 32 31 32 30"));
    EXPECT_EQ(parseTrace(slurp(traceFile + ".2")).size(), 1u);  // the read, unanswered
    stopSim();
    for (const char* name : {"com1", "com2", "com3"}) EXPECT_FALSE(fs::exists(fs::symlink_status(work / name))) << name;
}

TEST_F(CliE2eTest, PacedRepliesTakeTheLinesTimeAndStillArriveAsOneBurst) {
    startSim({"--pace"});
    const Result r = cli({"--port", link, "read", "channels"});
    EXPECT_RESULT(r, 0);
    std::string channels;  // the default unit's: the whole reply came as one burst
    for (int n = 1; n <= 31; ++n)
        channels += std::to_string(n) + (n == 1 ? " 1 0 0\n" : n == 2 ? " 1 1 0\n" : n == 17 ? " 0 1 0\n" : n == 31 ? " 0 0 1\n" : " 0 0 0\n");
    EXPECT_EQ(r.out, channels);
    std::vector<TraceLine> pieces;
    for (const TraceLine& t : parseTrace(slurp(traceFile)))
        if (t.direction == "TX") pieces.push_back(t);
    ASSERT_GE(pieces.size(), 2u);
    std::string reply;
    for (const TraceLine& t : pieces) reply += t.bytes;
    EXPECT_EQ(reply.size(), 37u);
    // 36 byte times of 1.04 ms between the first byte and the last, less 1 ms for
    // the stamps' rounding. Only a lower bound: a busy machine only spreads it more.
    EXPECT_GE(pieces.back().ms - pieces.front().ms, 36) << slurp(traceFile);
}

TEST_F(CliE2eTest, ARecordedSessionReplaysToTheSameOutput) {
    // The single reads, then a dump: the whole unit in one run, whose period
    // request repeats one already recorded, and whose modem read runs the full
    // query (service and connection listings) on the default unit.
    const std::vector<std::vector<std::string>> kReads = {
        {"read", "period"}, {"read", "channels"}, {"modem", "read"}, {"dump"}};
    startSim();
    ASSERT_RESULT_OK(cli({"--port", link, "write", "period", "077"}));
    const std::string recording = (work / "session.trace").string();
    std::vector<std::string> outputs;
    for (const auto& read : kReads) {
        std::vector<std::string> args = {"--port", link, "--trace-file", recording};
        args.insert(args.end(), read.begin(), read.end());
        const Result r = cli(args);
        outputs.push_back(std::to_string(r.status) + r.out + r.err);
    }
    EXPECT_EQ(outputs[0], "0077\n");
    EXPECT_NE(outputs[3].find("\"period\": \"077\""), std::string::npos) << outputs[3];
    EXPECT_NE(outputs[3].find("\"apn\": \"internet\""), std::string::npos) << outputs[3];
    stopSim();

    startSim({"--replay", recording});
    for (std::size_t i = 0; i < kReads.size(); ++i) {
        std::vector<std::string> args = {"--port", link};
        args.insert(args.end(), kReads[i].begin(), kReads[i].end());
        const Result r = cli(args);
        EXPECT_EQ(std::to_string(r.status) + r.out + r.err, outputs[i]) << kReads[i][0];
    }
    // A request the recording does not hold gets no answer.
    EXPECT_RESULT(cli({"--port", link, "read", "address"}), 1);
}

TEST_F(CliE2eTest, ACustomersTraceReplaysToItsKnownOutput) {
    startSim({"--replay", OSTRAKAN_E2E_DATA "/customer-session.trace"});
    std::string channels;
    for (int n = 1; n <= 31; ++n)
        channels += std::to_string(n) + (n == 1 || n == 30 ? " 1 0 0\n" : n == 5 ? " 0 1 1\n" : " 0 0 0\n");
    const struct {
        std::vector<std::string> command;
        std::string out;
    } kCases[] = {
        {{"read", "period"}, "120\n"},
        {{"read", "channels"}, channels},
        {{"modem", "read"}, "IP Address: 198.51.100.23\nAPN: m2m.customer\nUser: unit23\n"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> args = {"--port", "COM7"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        const Result r = cli(args);
        EXPECT_RESULT(r, 0);
        EXPECT_EQ(r.out, c.out);
    }
}

}  // namespace

// ---- nothing lost, nothing reported done that was not ---------------------------

std::string writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

TEST_F(CliE2eTest, AModemEntryWithNoSourceIsRefusedBeforeAnythingIsSent) {
    startSim();
    writeText(work / "apn.json", R"({"format": "ostrakan-profile/1", "modem": {"apn": "newapn"}})");
    const struct {
        std::string settings;  // "_data.ini", none when empty
        std::vector<std::string> args;
        std::vector<std::string> named, notNamed;
    } kCases[] = {
        {"", {"-p", link, "restore", "apn.json"},
         {"the IP address (modem.ip)", "the user (modem.user)", "the password (modem.password or --password-file)"},
         {"APN"}},
        {"", {"provision", "apn.json", "--ports", link}, {"modem.ip", "modem.password"}, {}},
        {"", {"-p", link, "modem", "write", "--apn", "newapn"},
         {"the IP address (--ip)", "the password (--password or --password-file)"}, {"APN"}},
        // A file that holds the others, with an empty password line: only the password is missing.
        {"198.51.100.9\r\nold.apn\r\nolduser\r\n", {"-p", link, "restore", "apn.json"}, {"the password"},
         {"IP address", "user"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[2]);
        std::remove((work / "_data.ini").c_str());
        if (!c.settings.empty()) writeText(work / "_data.ini", c.settings);
        const Result r = cli(c.args);
        EXPECT_RESULT(r, 2);
        for (const std::string& n : c.named) EXPECT_NE(r.err.find(n), std::string::npos) << r.err;
        for (const std::string& n : c.notNamed) EXPECT_EQ(r.err.find(n), std::string::npos) << r.err;
        EXPECT_TRUE(requests().empty()) << "a refused entry reached the line";
    }
    // Given whole by "_data.ini", the entries are sent from it and verified.
    writeText(work / "_data.ini", "198.51.100.9\r\nold.apn\r\nolduser\r\noldpw");
    const Result r = cli({"-p", link, "restore", "apn.json"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.err.find("password was sent but cannot be read back"), std::string::npos) << r.err;
    const auto sent = requests();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT^SISS=9,\"address\",\"socktcp://198.51.100.9:65534\"\r\n"),
              sent.end());
    // The trace hides the password's bytes: five, as "oldpw" has.
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT^SICS=0,\"passwd\",\"*****\"\r\n"), sent.end());
}

TEST_F(CliE2eTest, AnOutputThatCannotBeWrittenIsExit5NamingIt) {
    startSim();
    fs::create_directory(work / "folder");
    writeText(work / "p.json", R"({"format": "ostrakan-profile/1", "controller": {"period": "120"}})");
    const struct {
        std::vector<std::string> args;
        std::string toStdout;  // the tool's stdout, when not a file read back
        std::string named;
    } kCases[] = {
        {{"-p", link, "dump"}, "/dev/full", "cannot write to standard output"},
        {{"-p", link, "read", "period"}, "/dev/full", "cannot write to standard output"},
        {{"-p", link, "dump", "-o", "missing/unit.json"}, "", "missing/unit.json"},
        {{"-p", link, "dump", "-o", "folder"}, "", "folder"},
        {{"provision", "p.json", "--ports", link, "--report", "missing/report.json"}, "", "missing/report.json"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[2] + " " + c.named);
        stdoutTo = c.toStdout;
        const Result r = cli(c.args);
        EXPECT_RESULT(r, 5);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
    stdoutTo.clear();
    // A dump that succeeds replaces its file whole, and leaves no temporary file.
    writeText(work / "unit.json", "old");
    EXPECT_RESULT(cli({"-p", link, "dump", "-o", "unit.json"}), 0);
    EXPECT_EQ(slurp(work / "unit.json").rfind("{\n  \"format\": \"ostrakan-profile/1\"", 0), 0u);
    for (const auto& entry : fs::directory_iterator(work))
        EXPECT_EQ(entry.path().filename().string().find("unit.json."), std::string::npos) << entry.path();
}

TEST_F(CliE2eTest, ProvisionRefusesADeviceNamedTwiceOrABadNameBeforeAnyUnitIsTouched) {
    startSim();
    writeText(work / "p.json", R"({"format": "ostrakan-profile/1", "controller": {"period": "120"}})");
    fs::create_symlink(link, work / "alias");
    const std::string alias = (work / "alias").string();
    const struct {
        std::string ports;
        int status;
        std::string named;
    } kCases[] = {
        {link + "," + alias, 2, alias + ": the same device as " + link},
        {link + ",COM7", 2, "COM7: the same device as " + link},  // COM7 is the link in OSTRAKAN_DEVICES
        {link + ", " + link, 2, "the same device"},
        {link + ",COMX", 2, "COMX: Name is wrong."},
        {"  " + link + " ", 0, ""},  // spaces around a name are the list's
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.ports);
        const Result r = cli({"provision", "p.json", "--ports", c.ports});
        EXPECT_RESULT(r, c.status);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        if (c.status != 0) {
            EXPECT_TRUE(requests().empty()) << "a byte reached a unit";
        }
    }
    // --trace-file: one trace per port, the port's name in the file's name.
    ASSERT_RESULT_OK(cli({"provision", "p.json", "--ports", "COM7,sim", "--trace-file", "t.log"}));
    for (const char* file : {"t-COM7.log", "t-sim.log"})
        EXPECT_NE(slurp(work / file).find(" TX 0A 21 AA 30 41 54 44 50 32 31 32 30"), std::string::npos) << file;
}

TEST_F(CliE2eTest, AUnitLostMidwaySaysWhatWasWritten) {
    writeText(work / "p.json", R"({"format": "ostrakan-profile/1", "controller": {"period": "120",
        "channels": [)" + [] {
        std::string list;
        for (int n = 0; n < 31; ++n) list += std::string(n ? "," : "") + R"({"A": true, "T": false, "BX": false})";
        return list;
    }() + R"(]}, "modem": {"ip": "203.0.113.5", "apn": "m2m", "user": "", "password": ""}})");
    // Two requests answered (the period's write, the channels' write), the third meets the hang-up.
    startSim({"--hang-up-after", "2"});
    Result r = cli({"-p", link, "restore", "p.json"});
    EXPECT_RESULT(r, 3);
    EXPECT_NE(r.err.find("stopped at \"write modem\"; written: controller.period, controller.channels; "
                         "not written: modem\n"),
              std::string::npos) << r.err;
    stopSim();

    std::remove(traceFile.c_str());
    startSim({"--hang-up-after", "1"});
    r = cli({"provision", "p.json", "--ports", link, "--report", "report.json"});
    EXPECT_RESULT(r, 1);
    json_reader::Value root;
    std::string error;
    ASSERT_TRUE(json_reader::parse(slurp(work / "report.json"), &root, &error)) << error;
    ASSERT_EQ(root.find("units")->items.size(), 1u);
    const json_reader::Value& unit = root.find("units")->items[0];
    const auto text = [&unit](const char* key) {
        const json_reader::Value* v = unit.find(key);
        return v ? v->text : std::string("(no ") + key + ")";
    };
    EXPECT_EQ(text("status"), "lost");
    EXPECT_EQ(text("exit"), "3");
    EXPECT_EQ(text("step"), "write channels");
    ASSERT_NE(unit.find("written"), nullptr);
    ASSERT_EQ(unit.find("written")->items.size(), 1u);
    EXPECT_EQ(unit.find("written")->items[0].text, "controller.period");
    EXPECT_FALSE(unit.find("ok")->boolean);
}

// A trace line as ostrakan-cli writes it: "+S.mmm TX 41 54 |AT|".
std::string traceLine(int ms, const char* direction, const std::string& bytes) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "+%d.%03d %s", ms / 1000, ms % 1000, direction);
    std::string line = stamp, text;
    for (unsigned char b : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, " %02X", b);
        line += h;
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return line + " |" + text + "|\n";
}

TEST_F(CliE2eTest, WithoutInternetHoldsWhenTheProfilesLoadButHoldNoService) {
    // Some modems load their profiles after the reset, as empty ones: the query then
    // ends "Ok!" with no address and no APN, instead of at "Empty0". Played from a
    // recording of the real exchange, its last answers changed to such a modem's.
    startSim();
    writeText(work / "off.json", R"({"format": "ostrakan-profile/1", "modem": {"internet": false}})");
    const std::string recording = (work / "off.trace").string();
    ASSERT_RESULT_OK(cli({"-p", link, "--trace-file", recording, "restore", "off.json"}));
    stopSim();
    std::string recorded = slurp(recording);
    const std::string load0 = traceLine(0, "TX", "AT^SIPS=service,load,0\r\n");
    const std::size_t at = recorded.rfind(load0.substr(load0.find(" TX ")));
    ASSERT_NE(at, std::string::npos);
    const std::size_t lineStart = recorded.rfind('\n', at) + 1;
    const int ms = static_cast<int>(std::stod(recorded.substr(lineStart + 1, at - lineStart - 1)) * 1000);
    recorded.erase(recorded.find('\n', at) + 1);  // up to the verifying query's first load

    std::string none = "\r\n";
    for (int n = 0; n <= 9; ++n) none += "^SISS: " + std::to_string(n) + ",\"srvType\",\"none\"\r\n";
    const std::string ok = "\r\n\r\nOK\r\n";
    const struct {
        std::string listing;
        int status;
    } kCases[] = {
        {none + ok, 0},
        {none + "^SISS: 9,\"srvType\",\"Socket\"\r\n^SISS: 9,\"address\",\"socktcp://192.0.2.10:65534\"\r\n" + ok, 4},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.status);
        const std::string replay = writeText(
            work / "changed.trace",
            recorded + traceLine(ms + 230, "RX", ok) + traceLine(ms + 280, "TX", "AT^SIPS=service,load,9\r\n") +
                traceLine(ms + 510, "RX", ok) + traceLine(ms + 560, "TX", "AT^SISS?\r\n") +
                traceLine(ms + 790, "RX", c.listing) + traceLine(ms + 840, "TX", "AT^SICS?\r\n") +
                traceLine(ms + 1070, "RX", "\r\n^SICS: 0,\"conType\",\"none\"\r\n" + ok));
        startSim({"--replay", replay});
        const Result r = cli({"-p", link, "restore", "off.json"});
        EXPECT_RESULT(r, c.status);
        if (c.status == 4) {
            EXPECT_NE(r.err.find("modem.internet: wrote false, reads an internet profile"), std::string::npos) << r.err;
        }
        stopSim();
    }
}
