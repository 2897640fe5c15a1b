// Run.cpp: one run of vz-netsetup: the command line parsed, the command's
// handler run, and the exit status with what goes to standard output and
// standard error.
#include "Run.h"

#include "ApplyReport.h"
#include "Command.h"
#include "Output.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdlib>
#include <filesystem>

using namespace netsetup;

namespace {

constexpr const char *kProgram = "vz-netsetup";

Outcome Fail(const std::string &message)
{
    return {kExitFailure, "", std::string(kProgram) + ": " + vztool::printable(message) + "\n"};
}

Outcome Usage(const std::string &message, const std::string &commandPath)
{
    return {kExitUsage, "", vztool::usageLine(kProgram, vztool::printable(message), commandPath)};
}

Outcome Print(std::string text)
{
    return {kExitSuccess, std::move(text), ""};
}

// The deepest command the parser reached, and the words that name it.
const CLI::App *DeepestCommand(const CLI::App &app, std::string *path)
{
    const CLI::App *level = &app;
    *path                 = app.get_name();
    for (;;) {
        std::vector<CLI::App *> chosen = level->get_subcommands();
        if (chosen.empty()) return level;
        level = chosen.front();
        *path += " " + level->get_name();
    }
}

// The help of the deepest command, its usage line naming the whole command.
std::string HelpOf(const CLI::App &app)
{
    std::string     path;
    const CLI::App *command = DeepestCommand(app, &path);
    if (command == &app) return app.help();
    return command->help(path.substr(0, path.rfind(' ')));
}

// The help of every level: the usage line first ("usage: vz-netsetup ..."),
// as the other tools print theirs, then what the command does.
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_help(const CLI::App *app, std::string name,
                          CLI::AppFormatMode mode) const override
    {
        if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
        std::string description = make_description(app);
        while (!description.empty() && description.back() == '\n')
            description.pop_back();
        return make_usage(app, name) + "\n" + description + "\n" + make_positionals(app) +
               make_groups(app, mode) + make_subcommands(app, mode) + "\n" + make_footer(app);
    }
};

// Arguments are described by their names; the parser's "TEXT" adds nothing.
void DropTypeNames(CLI::App &app)
{
    for (CLI::Option *option : app.get_options())
        if (option->get_positional()) option->type_name("");
    for (CLI::App *command : app.get_subcommands({}))
        DropTypeNames(*command);
}

// An argument nobody took, in words.
std::string Unexpected(const std::string &argument)
{
    return (argument.rfind("-", 0) == 0 && argument.size() > 1 ? "unknown option "
                                                               : "unexpected argument ") +
           Quote(argument);
}

// CLI11's message, or a plainer one where it says less than it knows.
std::string UsageMessage(const CLI::ParseError &error, const CLI::App &app)
{
    std::string              message = error.what();
    std::vector<std::string> extra   = app.remaining();
    if (dynamic_cast<const CLI::ExtrasError *>(&error) != nullptr && !extra.empty())
        return Unexpected(extra.front());
    if (dynamic_cast<const CLI::RequiredError *>(&error) != nullptr &&
        message == "A subcommand is required") {
        if (extra.empty()) return "a command is missing";
        if (extra.front().rfind("-", 0) == 0) return Unexpected(extra.front());
        return "unknown command " + Quote(extra.front());
    }
    // "--account: 1 required NAME missing": the option was last, its value
    // not given.
    const std::string required = ": 1 required ", missing = " missing";
    size_t            at = message.find(required);
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&error) != nullptr && at != std::string::npos &&
        message.size() > at + required.size() + missing.size() &&
        message.compare(message.size() - missing.size(), missing.size(), missing) == 0)
        return message.substr(0, at) + " needs a value (" +
               message.substr(at + required.size(),
                              message.size() - missing.size() - at - required.size()) +
               ")";
    // "The following ..." reads as "the following ..." after the colon;
    // "NEW-NAME is required" keeps its capitals.
    if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
        std::islower(static_cast<unsigned char>(message[1])))
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return message;
}

void AddGlobalOptions(CLI::App &app, Context &context)
{
    app.add_option("--root", context.root,
                   "the machine's root folder ($VAVIVAZ_ROOT, or the machine's own)")
        ->type_name("DIR");
    app.add_option("--location", context.location,
                   "work in this location instead of the current one")
        ->type_name("NAME|ID");
    app.add_flag("--json", context.json, "print one JSON document instead of text");
    app.add_flag("--no-wait", context.noWait,
                 "fail when another process is changing the store; do not wait");
}

Outcome RunCommand(int argc, const char *const *argv)
{
    Context  context;
    CLI::App app("Lists and changes the network configuration: the machine's ports, locations\n"
                 "(sets of services), their services in service order and their settings,\n"
                 "dial-up and PPPoE connections, DHCP leases, AppleTalk and modem scripts.\n"
                 "SERVICE and NAME are a user-visible name or an ID; PORT is a device name or\n"
                 "a port's name.\n",
                 kProgram);
    auto     formatter = std::make_shared<HelpFormatter>();
    formatter->label("Usage", "usage");
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("SUBCOMMANDS", "COMMANDS");
    formatter->label("Positionals", "Arguments");
    formatter->column_width(22);
    app.formatter(formatter);
    // What every command inherits: its listing under "Commands", the global
    // options in any position after it, and the footer.
    app.group("Commands");
    app.fallthrough();
    app.footer("Global options, accepted in any position: --root DIR, --location NAME|ID, "
               "--json,\n--no-wait (see 'vz-netsetup --help'). '--' ends the options.\n"
               "Exit status: 0 success, 1 the operation failed, 2 a usage error.");
    app.set_version_flag("--version", std::string(kProgram) + " (vavivaz) " + VZ_NETSETUP_VERSION);
    app.require_subcommand(1);
    AddGlobalOptions(app, context);

    AddPortsCommand(app, context);
    AddServicesCommand(app, context);
    CLI::App *service =
        app.add_subcommand("service", "show, add or change one service of the location");
    service->require_subcommand(1);
    AddServiceCommands(*service, context);
    AddServiceAddCommand(*service, context);
    AddServiceSettingCommands(*service, context);
    AddLocationCommands(app, context);
    AddDialCommands(app, context);
    AddDHCPCommands(app, context);
    AddAppleTalkCommand(app, context);
    AddModemScriptsCommand(app, context);
    AddStatusCommand(app, context);
    AddConnectCommands(app, context);
    AddApplyCommand(app, context);
    DropTypeNames(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        return Print(HelpOf(app));
    } catch (const CLI::CallForAllHelp &) {
        return Print(app.help("", CLI::AppFormatMode::All));
    } catch (const CLI::CallForVersion &version) {
        return Print(std::string(version.what()) + "\n");
    } catch (const CLI::ParseError &error) {
        std::string path;
        DeepestCommand(app, &path);
        return Usage(UsageMessage(error, app), path);
    }

    if (!context.root.empty()) {
        std::error_code ignored;
        if (!std::filesystem::is_directory(context.root, ignored))
            return Fail("the root " + Quote(context.root) + " is not a folder");
        setenv("VAVIVAZ_ROOT", context.root.c_str(), 1);
    }
    if (!context.handler) return Usage("a command is missing", kProgram);
    MoreSCSetClient(CFSTR("vz-netsetup"));
    DiscardApplyReport();
    try {
        context.handler(context);
    } catch (const UsageError &error) {
        return Usage(error.what(), context.commandPath);
    } catch (const Failure &error) {
        return Fail(error.what());
    }
    AddApplyReport(context);
    Outcome outcome = Print(std::move(context.out));
    for (const std::string &note : context.notes)
        outcome.err += std::string(kProgram) + ": " + vztool::printable(note) + "\n";
    if (context.damaged) outcome.status = kExitFailure;
    return outcome;
}

} // namespace

namespace netsetup {

Outcome Run(int argc, const char *const *argv)
{
    try {
        return RunCommand(argc, argv);
    } catch (const std::bad_alloc &) {
        return Fail("out of memory");
    } catch (const std::exception &error) {
        // Nothing but the above is expected; a failure in words beats an
        // abort all the same.
        return Fail(error.what());
    }
}

} // namespace netsetup
