#include "tools/cli/options.h"

#include <CLI/CLI.hpp>

#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/platform.h"
#include "tools/cli/text_encoding.h"
#include "version.h"

namespace ostrakan::cli {

std::unique_ptr<CLI::App> defineCommandLine(Parsed* p) {
    auto app = std::make_unique<CLI::App>(
        "Reads and writes the controller's parameters, its channels and the modem's\n"
        "internet profile over one serial port, as the window program does.",
        "ostrakan-cli");
    app->fallthrough();
    app->require_subcommand(1);
    app->set_version_flag("--version", "ostrakan-cli " OSTRAKAN_VERSION);
    app->add_option("-p,--port", p->port,
                    "a COM name (COM1..COM256), a device path, or \"sim\" for the built-in simulated device")
        ->envname("OSTRAKAN_PORT")
        ->capture_default_str();
    CLI::Option* trace = app->add_flag("--trace", p->trace, "every hand-off (TX) and every burst (RX) on stderr");
    app->add_option("--trace-file", p->traceFile,
                    "append a session trace (timed hand-offs and bursts, replayable by ostrakan-sim --replay) "
                    "to FILE (provision: one file per port, FILE with the port's name added); it holds what was "
                    "sent, the modem password too")
        ->type_name("FILE")
        ->excludes(trace);
    app->add_flag("--json", p->json, "reads, \"modem read\" and \"ports\" print one JSON document");
    app->footer("Exit status: 0 done, 1 no answer in time, modem Error!/Empty0/Empty9/NoSave, or a\n"
                "provisioned unit failed, 2 bad usage or refused input (a bad profile), 3 port not opened\n"
                "or lost, 4 restore: the unit reads back otherwise, 5 an output file or stdout could not be\n"
                "written whole, 130 interrupted (Ctrl-C).");

    const auto command = [p](CommandName name) { return [p, name] { p->command = name; }; };

    CLI::App* read = app->add_subcommand("read", "read a parameter or the channels");
    read->add_option("what", p->what, "period, address, phone1, phone2, sms or channels (31 lines \"N A T BX\")")
        ->check(CLI::IsMember({"period", "address", "phone1", "phone2", "sms", "channels"}));
    read->parse_complete_callback(command(CommandName::Read));
    CLI::App* write = app->add_subcommand("write", "write a parameter or the channels");
    write->add_option("what", p->what, "period, address (DDD), phone1, phone2, sms (NUMBER) or channels")
        ->required()
        ->check(CLI::IsMember({"period", "address", "phone1", "phone2", "sms", "channels"}));
    write->add_option("value", p->values,
                      "the value; for channels the boxes to set, N:A, N:T or N:BX (\"none\" clears all 31)");
    write->parse_complete_callback(command(CommandName::Write));
    CLI::App* modem = app->add_subcommand("modem", "read or write the modem's internet profile");
    modem->require_subcommand(1);
    modem->add_subcommand("read", "print the modem's IP address, APN and user")
        ->parse_complete_callback(command(CommandName::ModemRead));
    CLI::App* modemWrite =
        modem->add_subcommand("write", "write the entries given over those loaded from \"_data.ini\"");
    static const char* const kFlags[4] = {"--ip", "--apn", "--user", "--password"};
    modemWrite->add_option(kFlags[0], p->entries[0], "the IP address");
    modemWrite->add_option(kFlags[1], p->entries[1], "the APN");
    modemWrite->add_option(kFlags[2], p->entries[2], "the user");
    CLI::Option* password = modemWrite->add_option(
        kFlags[3], p->entries[3], "the password; \"-\" asks for it without echo (other users can see a "
                                  "password given here, in ps and in the shell's history)");
    modemWrite->add_option("--password-file", p->passwordFile, "the password: the first line of FILE")
        ->type_name("FILE")
        ->excludes(password);
    modemWrite->add_flag("--no-internet", p->noInternet, "click \"Без интернета.\": erase the internet profiles");
    modemWrite->parse_complete_callback([p, modemWrite] {
        p->command = CommandName::ModemWrite;
        for (int k = 0; k < 4; ++k) p->given[k] = modemWrite->count(kFlags[k]) > 0;
    });
    app->add_subcommand("ports", "list the serial ports present")
        ->parse_complete_callback(command(CommandName::Ports));
    CLI::App* dump = app->add_subcommand("dump", "read the whole unit and print it as a profile (JSON)");
    dump->add_option("-o,--output", p->outFile, "write the profile to FILE instead of stdout")->type_name("FILE");
    dump->parse_complete_callback(command(CommandName::Dump));
    CLI::App* restore = app->add_subcommand("restore", "write a profile to the unit, then read it back and compare");
    restore->add_option("file", p->profileFile, "the profile (JSON, as dump writes it)")->required()->type_name("FILE");
    restore->add_flag("--no-verify", p->noVerify, "write only; do not read back");
    restore->add_option("--password-file", p->passwordFile,
                        "the modem password: the first line of FILE, over the profile's")
        ->type_name("FILE");
    restore->parse_complete_callback(command(CommandName::Restore));
    CLI::App* provision = app->add_subcommand("provision", "restore and verify a profile on several ports at once");
    provision->add_option("file", p->profileFile, "the profile (JSON)")->required()->type_name("FILE");
    provision->add_option("--ports", p->ports, "the ports, comma-separated: P1,P2,...")
        ->required()
        ->type_name("P1,P2,...");
    provision->add_option("--report", p->reportFile, "write a JSON report of every unit to FILE")->type_name("FILE");
    provision->add_option("--password-file", p->passwordFile,
                          "the modem password: the first line of FILE, over the profile's")
        ->type_name("FILE");
    provision->parse_complete_callback(command(CommandName::Provision));
    return app;
}

int parseCommandLine(int argc, char** argv, Parsed* p) {
    const std::unique_ptr<CLI::App> app = defineCommandLine(p);
    try {
        app->parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        printOut("%s", app->help().c_str());
        return kExitDone;
    } catch (const CLI::CallForVersion& e) {
        printOut("%s\n", e.what());
        return kExitDone;
    } catch (const CLI::ParseError& e) {
        // A word that is no command reads better named than as "a subcommand is required".
        const std::vector<std::string> extra = app->remaining();
        if (app->get_subcommands().empty() && !extra.empty())
            printErr("ostrakan-cli: unknown command \"%s\"\nRun with --help for more information.\n",
                     extra.front().c_str());
        else
            printErr("ostrakan-cli: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    }
    return kRunCommand;
}

bool argumentText(const std::string& what, const std::string& typed, std::string* bytes) {
    std::string offending;
    if (toCp1251(typed, bytes, &offending)) return true;
    refuse(what + ": \"" + offending + "\" is not a character of code page 1251, which the device uses");
    return false;
}

}  // namespace ostrakan::cli
