// The bash completion against the command line's own definition: every option
// of every command is offered where it applies.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli/options.h"

namespace {

// What the completion offers after `words` and a word starting "-".
std::set<std::string> offered(const std::vector<std::string>& words) {
    std::string line = "ostrakan-cli";
    for (const std::string& w : words) line += " " + w;
    const std::string script = "source '" OSTRAKAN_COMPLETION "'; COMP_WORDS=(" + line + " -); COMP_CWORD=" +
                               std::to_string(words.size() + 1) + "; _ostrakan_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
    FILE* out = ::popen(("bash <<'EOF'\n" + script + "\nEOF").c_str(), "r");
    std::set<std::string> names;
    if (!out) return names;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) {
        std::string name(buffer);
        while (!name.empty() && name.back() == '\n') name.pop_back();
        names.insert(name);
    }
    ::pclose(out);
    return names;
}

// Every command's options, and those of the commands above it (CLI11's
// fallthrough), as the completion should offer them after the command's words.
void collect(const CLI::App& app, std::vector<std::string> path, std::vector<std::string> inherited,
             std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>* cases) {
    for (const CLI::Option* o : app.get_options()) {
        if (o->get_positional()) continue;
        for (const std::string& n : o->get_lnames()) inherited.push_back("--" + n);
        for (const std::string& n : o->get_snames()) inherited.push_back("-" + n);
    }
    const std::vector<const CLI::App*> commands = app.get_subcommands({});
    if (commands.empty() || !path.empty()) cases->push_back({path, inherited});
    for (const CLI::App* c : commands) {
        std::vector<std::string> below = path;
        below.push_back(c->get_name());
        collect(*c, below, inherited, cases);
    }
}

TEST(CliOptions, TheCompletionOffersEveryOptionOfEveryCommand) {
    ostrakan::cli::Parsed parsed;
    const std::unique_ptr<CLI::App> app = ostrakan::cli::defineCommandLine(&parsed);
    std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases;
    collect(*app, {}, {}, &cases);
    ASSERT_GE(cases.size(), 8u);  // read, write, modem, modem read, modem write, ports, dump, restore, provision
    for (const auto& [words, options] : cases) {
        const std::set<std::string> names = offered(words);
        std::string command;
        for (const std::string& w : words) command += w + " ";
        for (const std::string& option : std::set<std::string>(options.begin(), options.end()))
            EXPECT_TRUE(names.count(option)) << "\"ostrakan-cli " << command << "-<TAB>\" does not offer " << option;
    }
}

}  // namespace
