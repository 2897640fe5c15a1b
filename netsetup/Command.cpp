// Command.cpp: failures in words, quoting, and the binding of a handler to
// its command.
#include "Command.h"

#include "CFText.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include "VaviVAZHelpers.h"
#include "VaviVAZPortScanner.h"

#include <CLI/CLI.hpp>

namespace netsetup {

Failure::Failure(const std::string &what, OSStatus code, vztool::Operation operation)
    : std::runtime_error(WithCode(what, code, operation))
{
}

// The commands' table of codes in words names the library's codes by value;
// these hold it to the names.
static_assert(kCFQErrorObjectNotMade == -4960 && kCFQErrorNoMemory == -108 &&
              kCFQErrorNameTooLong == -37 && kCFQErrorKeyMissing == 5400 &&
              kCFQErrorNotConvertible == 5401 && kMoreSCErrorBadRequest == -50 &&
              kVaviVAZPortErrorNoName == -1 && kMoreSCErrorNoConfigMethod == -2);

std::string WithCode(const std::string &words, OSStatus code, vztool::Operation operation)
{
    return vztool::withCode(words, code, operation);
}

void Bind(CLI::App *command, Context &context, std::function<void(Context &)> handler)
{
    std::string path;
    for (const CLI::App *level = command; level != nullptr; level = level->get_parent())
        path = level->get_name() + (path.empty() ? "" : " ") + path;
    command->callback([&context, handler = std::move(handler), path] {
        context.handler     = handler;
        context.commandPath = path;
    });
}

} // namespace netsetup
