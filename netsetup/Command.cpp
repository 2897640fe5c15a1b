// Command.cpp: failures in words, quoting, and the binding of a handler to
// its command.
#include "Command.h"

#include "CFText.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include "VaviVAZHelpers.h"
#include "VaviVAZPortScanner.h"

#include <CLI/CLI.hpp>
#include <CoreServices/CoreServices.h>
#include <IOKit/IOReturn.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdio>

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
    case kMoreSCErrorNoConfigMethod:
        return "a running IPv4 configuration has no config method";
    case kVaviVAZPortErrorNoName:
        return "a port has no name, or its MAC address does not read as one";
    case ioErr:
        return "input/output error";
    case fnfErr:
        return "a folder or file is not there";
    case afpAccessDenied:
        return "permission denied";
    case kIOReturnError:
        return "the device registry is damaged";
    case kIOReturnNoMemory:
        return "out of memory";
    case kIOReturnNotFound:
        return "a value the device registry should hold is missing";
    default:
        return SCErrorString(code);
    }
}

std::string WithCode(const std::string &words, OSStatus code)
{
    // The device registry's codes read as the platform writes them.
    std::string number = std::to_string(code);
    if ((static_cast<uint32_t>(code) & 0xFFFFF000u) == 0xE0000000u) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(code));
        number = hex;
    }
    return words + ": " + DescribeCode(code) + " (error " + number + ")";
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

void CheckText(const std::string &text, const std::string &what)
{
    if (text.empty()) throw UsageError(what + " is empty");
    if (!IsUtf8(text)) throw UsageError(what + " " + Quote(text) + " is not UTF-8");
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            throw UsageError(what + " " + Quote(text) + " holds a control character");
}

void CheckNewName(const std::string &name)
{
    CheckText(name, "the name");
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
