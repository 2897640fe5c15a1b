// Command.cpp: failures in words, quoting, and the binding of a handler to
// its command.
#include "Command.h"

#include "CFText.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

namespace netsetup {

Failure::Failure(const std::string &what, OSStatus code) : std::runtime_error(WithCode(what, code))
{
}

std::string DescribeCode(OSStatus code)
{
    switch (code) {
    case kCFQErrorObjectNotMade:
        return "a value the store should hold is missing or malformed";
    case kCFQErrorNoMemory:
        return "out of memory";
    case kMoreSCErrorBadRequest:
        return "the request cannot be carried out on this store";
    case kSCStatusFailed:
        return "the operation failed";
    case kSCStatusAccessError:
        return "access to a file of the store was refused";
    case kSCStatusNoKey:
        return "nothing is stored there";
    case kSCStatusPrefsBusy:
        return "the store is busy: another process holds its lock";
    case kSCStatusStale:
        return "another process changed the store while this one was reading it";
    default:
        return SCErrorString(code);
    }
}

std::string WithCode(const std::string &words, OSStatus code)
{
    return words + ": " + DescribeCode(code) + " (error " + std::to_string(code) + ")";
}

std::string Printable(const std::string &text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string       out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return Printable(out) + "\"";
}

void CheckNewName(const std::string &name)
{
    if (name.empty()) throw UsageError("the name is empty");
    if (!IsUtf8(name)) throw UsageError("the name " + Quote(name) + " is not UTF-8");
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            throw UsageError("the name " + Quote(name) + " holds a control character");
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
