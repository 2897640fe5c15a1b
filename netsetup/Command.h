// Command.h: what every command of vz-netsetup shares: the global options,
// the two kinds of failure and their exit statuses, and the registration of
// the commands.
//
// Each command is one handler registered on the parser by an Add... function
// below: the handler is chosen while the command line is parsed and runs only
// after the whole line parsed, so a usage error never touches the store. A new
// command is one more Add... function and one line in Run.cpp.
#ifndef VZ_NETSETUP_COMMAND_H
#define VZ_NETSETUP_COMMAND_H

#include <CoreFoundation/CoreFoundation.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace netsetup {

// Exit statuses.
enum ExitStatus { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// The global options and the state of one run.
struct Context {
    std::string root;     // --root, or empty for $VAVIVAZ_ROOT (or the machine's own)
    std::string location; // --location NAME|ID, or empty for the current one
    bool        json   = false;
    bool        noWait = false; // --no-wait: a busy store fails at once

    // Set by the parser: the handler of the command given and the words that
    // name it ("vz-netsetup service rename"), for the pointer to its --help.
    std::function<void(Context &)> handler;
    std::string                    commandPath;

    // Everything the command prints on standard output, written in one go at
    // the end, so that a failure half way prints nothing but its error.
    std::string out;
};

// A command line that asks for something impossible (exit status 2). The
// message says what was wrong; Main adds the pointer to the command's --help.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An operation that failed (exit status 1): the message says why, in words,
// and ends with the library's code when there is one.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    Failure(const std::string &what, OSStatus code);
};

// The words for a code of the library or the platform, and " (error N)".
std::string DescribeCode(OSStatus code);
std::string WithCode(const std::string &words, OSStatus code);

// Text with its control characters escaped (\x0a), so that one value stays
// on one line of a message or a table.
std::string Printable(const std::string &text);
// Printable text in double quotes, for messages; quotes and backslashes
// inside are escaped.
std::string Quote(const std::string &text);

// Text from the command line that the store is to hold (what: "the name",
// "the phone number"): not empty, UTF-8, without control characters; a
// UsageError otherwise.
void CheckText(const std::string &text, const std::string &what);
// A name for a new or renamed location or service, as CheckText checks it.
void CheckNewName(const std::string &name);

// Makes the leaf command run handler, and names it in context.
void Bind(CLI::App *command, Context &context, std::function<void(Context &)> handler);

// The commands, by group (each in its own file).
void AddServicesCommand(CLI::App &app, Context &context);
void AddServiceCommands(CLI::App &service, Context &context);
void AddServiceSettingCommands(CLI::App &service, Context &context);
void AddLocationCommands(CLI::App &app, Context &context);
void AddStatusCommand(CLI::App &app, Context &context);
void AddPortsCommand(CLI::App &app, Context &context);
void AddServiceAddCommand(CLI::App &service, Context &context);
void AddDialCommands(CLI::App &app, Context &context);
void AddDHCPCommands(CLI::App &app, Context &context);
void AddAppleTalkCommand(CLI::App &app, Context &context);
void AddModemScriptsCommand(CLI::App &app, Context &context);
void AddApplyCommand(CLI::App &app, Context &context);
void AddConnectCommands(CLI::App &app, Context &context);

} // namespace netsetup

#endif
