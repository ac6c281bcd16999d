// A whole core on a headless window and a scripted line, in its own temporary
// directory (so "_data.ini" never leaks between tests), driven tick by tick.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/headless_window.h"
#include "fake_line.h"

namespace ostrakan::test {

// Makes a fresh directory the current one for the object's lifetime.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string previous_;
    std::string path_;
};

void writeFile(const std::string& name, const std::string& bytes);
std::string readFile(const std::string& name);  // "<missing>" when absent

struct Rig {
    // Built in the temporary directory, so a settings file written before start()
    // is what the start-up sequence loads.
    TempDir dir;
    std::unique_ptr<HeadlessWindow> window = std::make_unique<HeadlessWindow>();
    LinkBuffers link;
    FakeLine line{link};
    Core core{*window, line, link};

    // Answers a sent command with a burst ("" = silence); runs the classifier at once.
    std::function<std::string(const std::string&)> responder;
    // Every text the query and setup status fields showed, in order.
    std::vector<std::string> queryStatusHistory;
    std::vector<std::string> setupStatusHistory;

    void start();
    void click(int id) { core.onCommand(id, 0); }
    void tick();
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    // Ticks until the request flag is lowered; returns the ticks taken (-1 if never).
    int tickUntilLowered(Request r, int limit = 5000);

    // A burst arrives and the line goes quiet: the classifier runs.
    void reply(const std::string& burst);

    void type(const TextField& field, const std::string& text);
    std::string shown(const TextField& field) const;
    std::string parameter(int k) const { return shown(core.controllerPanel.parameterFields[k]); }
    TextField& parameterField(int k) { return core.controllerPanel.parameterFields[k]; }

    std::vector<std::string> sentTexts() const;

private:
    std::size_t answered_ = 0;
};

}  // namespace ostrakan::test
