#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ostrakan::e2e {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void execArgs(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

pid_t spawnTool(std::vector<std::string> args, const std::filesystem::path& dir, std::vector<std::string> env,
                const ToolFiles& files, int* done) {
    int pipeFds[2] = {-1, -1};
    if (done) {
        EXPECT_EQ(::pipe(pipeFds), 0);
    }
    const pid_t pid = ::fork();
    EXPECT_GE(pid, 0);
    if (pid == 0) {
        if (done) ::close(pipeFds[0]);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        ::setenv("OSTRAKAN_DEVICES", dir.c_str(), 1);
        for (const char* v : {"OSTRAKAN_PORT", "OSTRAKAN_LOG", "LANG", "LC_ALL"}) ::unsetenv(v);
        for (std::string& e : env) ::putenv(e.data());
        const int i = files.input.empty() ? ::open("/dev/null", O_RDONLY) : ::open(files.input.c_str(), O_RDONLY);
        const int o = ::open(files.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(files.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(i, STDIN_FILENO);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        execArgs(args);
    }
    if (done) {
        ::close(pipeFds[1]);
        *done = pipeFds[0];
    }
    return pid;
}

Result finishTool(pid_t pid, int done, const ToolFiles& files, int timeoutMs, bool readOut) {
    pollfd p{done, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    ::close(done);
    if (ready <= 0) {
        ::kill(pid, SIGKILL);
        ADD_FAILURE() << "a program did not finish in time";
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (readOut) r.out = slurp(files.outFile);
    r.err = slurp(files.errFile);
    r.maxRssKb = usage.ru_maxrss;
    return r;
}

pid_t startServer(std::vector<std::string> args, const std::filesystem::path& errFile, int lines,
                  std::vector<std::string>* printed) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    EXPECT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(err, STDERR_FILENO);
        ::close(out[0]);
        execArgs(args);
    }
    ::close(out[1]);
    std::string text;
    pollfd p{out[0], POLLIN, 0};
    while (std::count(text.begin(), text.end(), '\n') < lines && ::poll(&p, 1, 10000) > 0) {
        char c[512];
        const ssize_t n = ::read(out[0], c, sizeof c);
        if (n <= 0) break;
        text.append(c, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), lines) << text << slurp(errFile);
    printed->clear();
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) printed->push_back(l);
    return pid;
}

}  // namespace ostrakan::e2e
