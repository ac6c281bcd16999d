// Fleet work against ostrakan-sim's units over pseudo-terminals: verify without
// writing, a units table, one JSON document on every failure, the unit log
// under two runs at once, and the port probe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tools/json/json_reader.h"

namespace {

namespace fs = std::filesystem;
namespace e2e = ostrakan::e2e;
namespace json_reader = ostrakan::json_reader;
using Type = json_reader::Value::Type;

json_reader::Value parsed(const std::string& text) {
    json_reader::Value v;
    std::string error;
    EXPECT_TRUE(json_reader::parse(text, &v, &error)) << error << " in: " << text;
    return v;
}

std::string textAt(const json_reader::Value& v, const char* key) {
    const json_reader::Value* m = v.find(key);
    return m ? m->text : "<no " + std::string(key) + ">";
}

// The requests in a simulator's trace ("RX" lines: what the tool sent).
std::vector<std::string> requestsIn(const std::string& trace) {
    std::vector<std::string> v;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string time, dir, tok, bytes;
        if (line.empty() || line[0] == '#' || !(words >> time >> dir) || dir != "RX") continue;
        while (words >> tok && tok[0] != '|') bytes += static_cast<char>(std::stoi(tok, nullptr, 16));
        v.push_back(bytes);
    }
    return v;
}

// A request that changes the unit: a controller frame other than a read ('N'),
// or a modem command that sets or saves (the query's profile load only reads).
bool changesTheUnit(const std::string& r) {
    if (r.compare(0, 3, "\x0A\x21\xAA") == 0) return r.size() < 4 || r[3] != 'N';
    return r.find('=') != std::string::npos && r.find("AT^SIPS=service,load,") == std::string::npos;
}

using e2e::Result;
using e2e::slurp;

class CliFleetTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/ostrakan-fleet-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        work = dir;
        { std::ofstream(work / "p.json") << R"({"format": "ostrakan-profile/1",
            "controller": {"period": "120", "address": "099"}})"; }
    }
    void TearDown() override {
        if (simPid > 0) {
            ::kill(simPid, SIGTERM);
            ::waitpid(simPid, nullptr, 0);
        }
        std::error_code ec;
        fs::remove_all(work, ec);
    }

    // ostrakan-sim with `units` units linked as <work>/com1.., each tracing to
    // <work>/trace.K; waits until it serves.
    void startSim(int units, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {OSTRAKAN_SIM_PATH, "--units", std::to_string(units), "--link-dir",
                                         work.string(), "--trace-file", (work / "trace").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        simPid = e2e::startServer(std::move(args), work / "sim.err", units, &ptys);  // a pty a line, then it serves
    }

    // When unit K's trace exists (the simulator writes it at its end), its requests.
    std::vector<std::string> requestsOf(int unit) { return requestsIn(slurp(work / ("trace." + std::to_string(unit)))); }
    void stopSim() {
        ::kill(simPid, SIGTERM);
        ::waitpid(simPid, nullptr, 0);
        simPid = -1;
    }

    // Starts the tool in <work> with OSTRAKAN_DEVICES=<work>; its output to out.N/err.N.
    pid_t spawn(std::vector<std::string> args, int n, std::vector<std::string> env = {}) {
        args.insert(args.begin(), OSTRAKAN_CLI_PATH);
        return e2e::spawnTool(std::move(args), work, std::move(env), files(n), &done[n]);
    }
    // Every case ends well within a minute; a hung tool is killed and fails.
    Result wait(pid_t pid, int n) { return e2e::finishTool(pid, done[n], files(n), 60000); }
    e2e::ToolFiles files(int n) const {
        return {{}, work / ("out." + std::to_string(n)), work / ("err." + std::to_string(n))};
    }
    Result cli(std::vector<std::string> args, std::vector<std::string> env = {}) {
        return wait(spawn(std::move(args), 0, std::move(env)), 0);
    }
    void write(const char* name, const std::string& text) { std::ofstream(work / name, std::ios::binary) << text; }

    fs::path work;
    pid_t simPid = -1;
    std::vector<std::string> ptys;
    int done[3] = {-1, -1, -1};  // each run's hang-up pipe, by its N
};

#define EXPECT_RESULT(r, code) EXPECT_EQ((r).status, code) << "stdout: " << (r).out << "\nstderr: " << (r).err

TEST_F(CliFleetTest, VerifyReadsOnlyAndNamesEachDifference) {
    startSim(2, {"--silent", "2=*"});
    // The simulator's unit holds period 010: the profile's 120 is a difference.
    Result r = cli({"-p", "COM1", "verify", "p.json", "--json"});
    EXPECT_RESULT(r, 4);
    json_reader::Value v = parsed(r.out);
    EXPECT_EQ(textAt(v, "status"), "different");
    EXPECT_EQ(v.find("exit")->text, "4");
    const json_reader::Value* d = v.find("differences");
    ASSERT_TRUE(d && !d->items.empty()) << r.out;
    EXPECT_EQ(textAt(d->items[0], "path"), "controller.period");
    EXPECT_EQ(textAt(d->items[0], "profile"), "120");
    EXPECT_EQ(textAt(d->items[0], "unit"), "010");

    write("same.json", R"({"format": "ostrakan-profile/1", "controller": {"period": "010"}})");
    EXPECT_RESULT(cli({"-p", "COM1", "verify", "same.json"}), 0);
    EXPECT_RESULT(cli({"-p", "COM2", "verify", "same.json"}), 1);  // silent
    // Over a port list: each unit's own result.
    r = cli({"verify", "same.json", "--ports", "COM1,COM2", "--json"});
    EXPECT_RESULT(r, 1);
    v = parsed(r.out);
    ASSERT_EQ(v.find("units")->items.size(), 2u) << r.out;
    EXPECT_EQ(textAt(v.find("units")->items[0], "status"), "ok");
    EXPECT_EQ(textAt(v.find("units")->items[1], "status"), "no-answer");
    stopSim();
    const std::vector<std::string> sent = requestsOf(1);
    EXPECT_GE(sent.size(), 3u);
    for (const std::string& q : sent) EXPECT_FALSE(changesTheUnit(q)) << "verify sent a write: " << q;
}

TEST_F(CliFleetTest, ATableGivesEachUnitItsOwnAddressAndTheLogSaysWhoGotWhat) {
    startSim(3);
    write("units.csv", "\xEF\xBB\xBFport,site,controller.address\r\nCOM1,north,001\r\nCOM2,\"south, 2\",002\r\n"
                       "COM3,east,\r\n");
    Result r = cli({"provision", "p.json", "--units", "units.csv", "--label-column", "site", "--log", "fleet.log",
                    "--report", "report.json"});
    EXPECT_RESULT(r, 0);
    EXPECT_NE(r.err.find("south, 2"), std::string::npos) << "the label column is not shown: " << r.err;
    const char* const want[] = {"001", "002", "099"};  // an empty cell keeps the profile's
    for (int u = 1; u <= 3; ++u) {
        const Result read = cli({"-p", "COM" + std::to_string(u), "read", "address"});
        EXPECT_EQ(read.out, std::string(want[u - 1]) + "\n") << u;
    }
    // The table verifies too, writing nothing.
    EXPECT_RESULT(cli({"verify", "p.json", "--units", "units.csv"}), 0);

    const json_reader::Value report = parsed(slurp(work / "report.json"));
    ASSERT_EQ(report.find("units")->items.size(), 3u);
    const json_reader::Value* values = report.find("units")->items[1].find("values");
    ASSERT_TRUE(values) << slurp(work / "report.json");
    EXPECT_EQ(textAt(*values, "controller.address"), "002");

    std::istringstream log(slurp(work / "fleet.log"));
    std::vector<json_reader::Value> lines;
    for (std::string l; std::getline(log, l);) lines.push_back(parsed(l));
    ASSERT_EQ(lines.size(), 3u);
    for (const json_reader::Value& l : lines) {
        EXPECT_EQ(textAt(l, "operation"), "provision");
        EXPECT_EQ(textAt(l, "status"), "ok");
        EXPECT_EQ(textAt(l, "profile_sha256").size(), 64u);
        EXPECT_EQ(textAt(l, "time").back(), 'Z');
        EXPECT_FALSE(l.find("written")->items.empty());
    }
}

TEST_F(CliFleetTest, ABadTableTouchesNoUnit) {
    startSim(2);
    const struct {
        std::string csv;
        std::vector<std::string> extra;
        std::string message;
    } cases[] = {
        {"port,controller.address\nCOM1,001\nCOM2,12\n", {}, "line 3, column 2 (controller.address \"12\")"},
        {"port,controller.address\nCOM1,001\nCOM1,002\n", {}, "line 3, column 1: \"COM1\" is already the port of line 2"},
        {"port,controller.address\nCOM1,001\nCOM999,002\n", {}, "line 3, column 1: \"COM999\""},
        {"port,controller.adress\nCOM1,001\n", {}, "\"controller.adress\" is no item"},
        {"port,controller.address\nCOM1,001\n", {"--ports", "COM2"}, "excludes"},
        {"port,controller.address\nCOM1,001\n", {"--label-column", "serial"}, "serial"},
        {"port,controller.address\nCOM1,001\n", {"-p", "COM1"}, "--port names one unit"},
    };
    for (const auto& c : cases) {
        write("bad.csv", c.csv);
        for (const char* command : {"provision", "verify"}) {
            std::vector<std::string> args = {command, "p.json", "--units", "bad.csv"};
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            const Result r = cli(args);
            EXPECT_RESULT(r, 2);
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.csv << r.err;
        }
    }
    // A unit whose cells give the modem's entries but not its password: the
    // sources are judged unit by unit, and that unit's line is named.
    write("modem.csv", "port,modem.ip,modem.apn,modem.user,modem.password\nCOM1,1.2.3.4,a,u,pw\nCOM2,1.2.3.5,a,u,\n");
    const Result r = cli({"provision", "p.json", "--units", "modem.csv"});
    EXPECT_RESULT(r, 2);
    EXPECT_NE(r.err.find("modem.csv line 3 (COM2): nothing gives the password"), std::string::npos) << r.err;
    stopSim();
    EXPECT_TRUE(requestsOf(1).empty());
    EXPECT_TRUE(requestsOf(2).empty());
}

TEST_F(CliFleetTest, JsonFailuresAreOneDocumentWithStatusExitAndError) {
    startSim(1, {"--silent", "*"});
    write("bad.json", R"({"format": "ostrakan-profile/1", "controller": {"period": "12"}})");
    const std::vector<std::vector<std::string>> cases = {
        {"-p", "COM1", "read", "period"},            // no answer: 1
        {"-p", "COM9", "read", "channels"},          // no such port: 3
        {"-p", "COM1", "write", "period", "12"},     // refused: 2
        {"-p", "COM1", "modem", "read"},
        {"-p", "COM1", "modem", "write", "--apn", "x"},
        {"-p", "COM1", "dump"},
        {"-p", "COM1", "restore", "bad.json"},
        {"-p", "COM1", "verify", "missing.json"},
        {"provision", "p.json", "--ports", "COM1"},
        {"provision", "p.json", "--units", "missing.csv"},
        {"read", "nothing"},                          // a usage error in the command line itself
        {"ports", "--no-such-option"},
    };
    for (std::vector<std::string> args : cases) {
        args.push_back("--json");
        const Result r = cli(args);
        EXPECT_NE(r.status, 0) << args[2];
        const json_reader::Value v = parsed(r.out);
        ASSERT_EQ(v.type, Type::Object) << r.out;
        ASSERT_TRUE(v.find("exit") && v.find("status") && v.find("error")) << r.out;
        EXPECT_EQ(v.find("exit")->text, std::to_string(r.status)) << r.out;
        EXPECT_NE(textAt(v, "status"), "ok") << r.out;
        EXPECT_FALSE(textAt(v, "error").empty()) << r.out;
    }
}

TEST_F(CliFleetTest, TwoRunsAtOnceLeaveOnlyWholeLinesInOneLog) {
    startSim(8);
    const std::string log = (work / "shared.log").string();
    const pid_t a = spawn({"provision", "p.json", "--ports", "COM1,COM2,COM3,COM4"}, 1, {"OSTRAKAN_LOG=" + log});
    const pid_t b = spawn({"verify", "p.json", "--ports", "COM5,COM6,COM7,COM8", "--log", log}, 2);
    EXPECT_RESULT(wait(a, 1), 0);
    EXPECT_RESULT(wait(b, 2), 4);
    const std::string text = slurp(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream in(text);
    int provisioned = 0, verified = 0;
    for (std::string l; std::getline(in, l);) {
        const json_reader::Value v = parsed(l);
        (textAt(v, "operation") == "provision" ? provisioned : verified)++;
    }
    EXPECT_EQ(provisioned, 4);
    EXPECT_EQ(verified, 4);
}

TEST_F(CliFleetTest, ProbeFindsTheOneUnitAmongSilentPortsAndLeavesAHeldPortAlone) {
    startSim(4, {"--silent", "1=*", "--silent", "2=*", "--silent", "4=*"});
    // COM4 is held by another program (an flock, as the tool and ModemManager take).
    const int held = ::open(ptys[3].c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const auto start = std::chrono::steady_clock::now();
    const Result r = cli({"ports", "--probe", "--json"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(held);
    EXPECT_RESULT(r, 0);
    EXPECT_LT(seconds, 3.0) << "the ports are probed one after another";
    const json_reader::Value v = parsed(r.out);
    ASSERT_EQ(v.type, Type::Array) << r.out;
    std::vector<std::string> answered;
    for (const json_reader::Value& p : v.items) {
        const json_reader::Value* probe = p.find("probe");
        ASSERT_TRUE(probe) << r.out;
        if (probe->find("answered")->boolean) answered.push_back(textAt(p, "com") + "=" + textAt(*probe, "period"));
        if (textAt(p, "com") == "COM4") {
            EXPECT_FALSE(probe->find("probed")->boolean) << r.out;
        }
        if (textAt(p, "com") == "COM1") {
            EXPECT_TRUE(probe->find("probed")->boolean) << r.out;
        }
    }
    EXPECT_EQ(answered, std::vector<std::string>{"COM3=010"}) << r.out;
    stopSim();
    EXPECT_TRUE(requestsOf(4).empty()) << "a held port was written to";
    EXPECT_EQ(requestsOf(3).size(), 1u);
}

}  // namespace
