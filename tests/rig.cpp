#include "rig.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ostrakan::test {

TempDir::TempDir() {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) throw std::runtime_error("getcwd");
    previous_ = cwd;
    char pattern[] = "/tmp/ostrakan-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    path_ = pattern;
    if (chdir(path_.c_str()) != 0) throw std::runtime_error("chdir");
}

TempDir::~TempDir() {
    if (chdir(previous_.c_str()) != 0) return;
    unlink((path_ + "/_data.ini").c_str());
    rmdir(path_.c_str());
}

void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Rig::start() {
    line.tickSource = &core.tickCounter;
    core.startUp();
}

void Rig::tick() {
    core.tick();
    const std::string query = shown(core.queryStatusField);
    if (queryStatusHistory.empty() || queryStatusHistory.back() != query)
        queryStatusHistory.push_back(query);
    const std::string setup = shown(core.setupStatusField);
    if (setupStatusHistory.empty() || setupStatusHistory.back() != setup)
        setupStatusHistory.push_back(setup);
    while (responder && answered_ < line.sent.size()) {
        const std::string answer = responder(line.sent[answered_++].bytes);
        if (!answer.empty()) reply(answer);
    }
}

int Rig::tickUntilLowered(Request r, int limit) {
    for (int i = 1; i <= limit; ++i) {
        tick();
        if (!core.requests.isSet(r)) return i;
    }
    return -1;
}

void Rig::reply(const std::string& burst) {
    line.receive(burst);
    core.onGapTimer();
}

void Rig::type(const TextField& field, const std::string& text) {
    window->typeInto(field.control(), text.c_str());
}

std::string Rig::shown(const TextField& field) const { return window->textOf(field.control()); }

std::vector<std::string> Rig::sentTexts() const {
    std::vector<std::string> texts;
    for (const auto& s : line.sent) texts.push_back(s.bytes);
    return texts;
}

}  // namespace ostrakan::test
