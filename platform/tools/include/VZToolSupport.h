// VZToolSupport.h: what every command of the project shares, so that each
// is written once: the exit statuses and the one-line messages of a failure
// and of a usage error, the owner of a reference, the UTF-8 text of a
// string, the escaped form of text that others wrote, the words for a status
// code and for the system's reason behind a failure, and the checked write
// to standard output. Header only, over the framework headers and the tool
// interface; a command reaches it through the vz_platform_tools target, and
// the platform's readable listing of property lists escapes text by the same
// rule.
#ifndef VZ_TOOLSUPPORT_H
#define VZ_TOOLSUPPORT_H

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace vztool {

// Every command's exit statuses: a usage error is a command line that asks
// for something impossible, and touches nothing.
enum ExitStatus { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// ---------------------------------------------------------------------------
// Owned references

// How a reference is kept: objects by CFRetain and CFRelease, registry
// handles by IOObjectRetain and IOObjectRelease.
template <typename T> struct RefTraits {
    static void retain(T ref) { CFRetain(ref); }
    static void release(T ref) { CFRelease(ref); }
};
template <> struct RefTraits<io_object_t> {
    static void retain(io_object_t ref) { (void)IOObjectRetain(ref); }
    static void release(io_object_t ref) { (void)IOObjectRelease(ref); }
};

// One owned reference (or none), released when its owner goes. A copy
// retains; put() hands a call an out-parameter that points to NULL, as the
// library's calls require; release() hands the reference on.
template <typename T> class Ref {
  public:
    Ref() = default;
    explicit Ref(T ref) : ref_(ref) {}
    Ref(const Ref &other) : ref_(other.ref_)
    {
        if (ref_ != nullptr) RefTraits<T>::retain(ref_);
    }
    Ref(Ref &&other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    Ref &operator=(Ref other) noexcept
    {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~Ref() { reset(); }

    // A reference of its own to a borrowed one.
    static Ref retain(T ref)
    {
        if (ref != nullptr) RefTraits<T>::retain(ref);
        return Ref(ref);
    }
    T  get() const { return ref_; }
    T *put()
    {
        reset();
        return &ref_;
    }
    T    release() { return std::exchange(ref_, nullptr); }
    void reset()
    {
        if (ref_ != nullptr) RefTraits<T>::release(ref_);
        ref_ = nullptr;
    }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    T ref_ = nullptr;
};

// The UTF-8 text of a string; an unpaired UTF-16 surrogate, which UTF-8
// cannot carry, comes out as "?".
inline std::string utf8(CFStringRef string)
{
    CFIndex     length = CFStringGetLength(string);
    CFIndex     size   = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
    std::string text(static_cast<size_t>(size), '\0');
    CFIndex     used = 0;
    CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8 *>(text.data()), size, &used);
    text.resize(static_cast<size_t>(used));
    return text;
}

// ---------------------------------------------------------------------------
// Text on a terminal
//
// Names and values that others wrote (a file name, a store, the registry, a
// USB device's description of itself in sysfs) reach the terminal only
// through printable(), so that they cannot move the cursor, start an escape
// sequence or turn the rest of a row around.

// What a character does when a terminal prints it as it is: a control (C0,
// DEL, C1) acts on the terminal or ends the line; a bidirectional override
// or isolate reorders what follows it up to the end of the line; a
// noncharacter is not meant for text at all.
enum HazardKind { kNoHazard, kControlHazard, kBidirectionalHazard, kNoncharacterHazard };

inline HazardKind hazardOf(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return kControlHazard;
    if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return kBidirectionalHazard;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return kNoncharacterHazard;
    return kNoHazard;
}

// The code point of the UTF-8 sequence at text[i], moving i past it; -1 for a
// byte that does not begin a well-formed sequence (cut short, overlong, a
// surrogate, beyond U+10FFFF), moving i past that byte alone.
inline int32_t nextUtf8(const std::string &text, size_t &i)
{
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        i++;
        return lead;
    }
    size_t   length = 0;
    uint32_t c      = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c      = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c      = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c      = lead & 0x07;
    } else {
        i++;
        return -1;
    }
    if (i + length > text.size()) {
        i++;
        return -1;
    }
    for (size_t k = 1; k < length; k++) {
        auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            i++;
            return -1;
        }
        c = (c << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        i++;
        return -1;
    }
    i += length;
    return static_cast<int32_t>(c);
}

// The escape of one character, or of one byte that is not UTF-8: "\x1b"
// below U+0080, "\u202e" in the first plane, "\U0010fffe" beyond it.
inline std::string escaped(char32_t c)
{
    char text[16];
    if (c < 0x80)
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c));
    else if (c < 0x10000)
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    else
        std::snprintf(text, sizeof text, "\\U%08x", static_cast<unsigned>(c));
    return text;
}

// The text with every character that has a hazard escaped, and every byte
// that is not UTF-8 as "\xff"; all else, letters of any script included,
// byte for byte as it was. One value then stays on its own line of output or
// in its own column, and reads as it prints. A backslash stays as it is: a
// caller that must tell an escape from the text quotes backslashes first.
inline std::string printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t  start = i;
        int32_t c     = nextUtf8(text, i);
        if (c < 0)
            out += escaped(static_cast<unsigned char>(text[start]));
        else if (hazardOf(static_cast<char32_t>(c)) != kNoHazard)
            out += escaped(static_cast<char32_t>(c));
        else
            out.append(text, start, i - start);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Codes in words

// The words for a status code a command meets: the platform's statuses and
// errors, and the library's own codes, which its headers name (MoreCFQ.h,
// VaviVAZ.h, VaviVAZPortScanner.h, VaviVAZHelpers.h) and which never change,
// callers relying on them. An unknown code has no words of its own.
inline std::string codeWords(OSStatus code)
{
    switch (code) {
    case -4960: // kCFQErrorObjectNotMade
        return "a value is missing or malformed, or could not be made";
    case -108: // kCFQErrorNoMemory, memFullErr
    case kIOReturnNoMemory:
        return "out of memory";
    case -50: // kMoreSCErrorBadRequest, paramErr
        return "the request cannot be carried out on this store";
    case -37: // kCFQErrorNameTooLong
        return "a name is too long for a file name";
    case -1: // kVaviVAZPortErrorNoName
        return "a port cannot be named (a network interface without \"BSD Name\", a serial "
               "port without its type or base name, a device \"name\" of another kind) or "
               "its MAC address does not read as one";
    case -2: // kMoreSCErrorNoConfigMethod
        return "a running IPv4 configuration has no config method";
    case 5400: // kCFQErrorKeyMissing
        return "a key is missing";
    case 5401: // kCFQErrorNotConvertible
        return "a value is not of the kind expected";
    case kSCStatusFailed:
        return "the operation failed";
    case kSCStatusAccessError:
        return "access to a file was refused";
    case kSCStatusNoKey:
        return "nothing is stored there";
    case kSCStatusPrefsBusy:
        return "the store is busy: another process holds its lock";
    case kSCStatusStale:
        return "another process changed the store while this one was reading it";
    case ioErr:
        return "input/output error";
    case nsvErr:
    case fnfErr:
    case dirNFErr:
        return "a folder or file is not there";
    case afpAccessDenied:
        return "permission denied";
    case kIOReturnError:
        return "the device registry is damaged";
    case kIOReturnNotFound:
        return "a value the device registry should hold is missing (a serial port without "
               "\"IOTTYDevice\")";
    case kIOReturnNoDevice:
        return "a device the registry should hold is missing (a network interface without "
               "its controller and device)";
    default:
        return SCErrorString(code);
    }
}

// The code as the messages show it: decimal, and the device registry's
// codes in hexadecimal, as the platform writes them.
inline std::string codeNumber(OSStatus code)
{
    if ((static_cast<uint32_t>(code) & 0xFFFFF000u) == 0xE0000000u) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(code));
        return hex;
    }
    return std::to_string(code);
}

// What a failed operation was to do to a file, which decides the words for
// a refused permission.
enum Operation { kAnyOperation, kReadOperation, kChangeOperation };

// The system's reason for a failure (the errno of VZGetLastSystemError() or
// of a tool call) in words; empty for 0.
inline std::string reasonWords(int error, Operation operation)
{
    switch (error) {
    case 0:
        return std::string();
    case ENOSPC:
    case EDQUOT:
        return "no space left on the device";
    case EROFS:
        return "the file system is read-only";
    case EACCES:
    case EPERM:
        return operation == kChangeOperation ? "permission to change it was refused"
               : operation == kReadOperation ? "permission to read it was refused"
                                             : "permission was refused";
    default: {
        // The platform's words where it has its own (a symbolic link that
        // leads out of the root), the system's otherwise.
        std::string words = VZFileErrorString(error);
        if (!words.empty()) words[0] = static_cast<char>(std::tolower(words[0]));
        return words;
    }
    }
}

// The system's reason the platform kept for the failure whose status is
// code, in words; empty when it kept none, or when code is not the status of
// the platform's last failure.
inline std::string platformReason(OSStatus code, Operation operation)
{
    if (code != SCError()) return std::string();
    return reasonWords(VZGetLastSystemError(), operation);
}

// "WHAT: WORDS (error N)": the words say the system's reason behind code
// when the platform kept one (a full disk and a damaged store share 1001),
// and what code means otherwise.
inline std::string withCode(const std::string &what, OSStatus code,
                            Operation operation = kAnyOperation)
{
    std::string words = platformReason(code, operation);
    if (words.empty()) words = codeWords(code);
    return what + ": " + words + " (error " + codeNumber(code) + ")";
}

// ---------------------------------------------------------------------------
// Messages

// "PROGRAM: MESSAGE" on standard error; kExitFailure.
inline int fail(const char *program, const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return kExitFailure;
}

// The one line of a usage error: what was wrong, and the help to read (that
// of command, "vz-netsetup service rename", or of the program).
inline std::string usageLine(const char *program, const std::string &message,
                             const std::string &command = std::string())
{
    return std::string(program) + ": " + message + "; see '" +
           (command.empty() ? std::string(program) : command) + " --help'\n";
}

// The usage line on standard error; kExitUsage.
inline int usageError(const char *program, const std::string &message,
                      const std::string &command = std::string())
{
    std::fputs(usageLine(program, message, command).c_str(), stderr);
    return kExitUsage;
}

// Writes text to standard output and flushes it: kExitSuccess, or
// kExitFailure with the reason on standard error when the write fails (a
// full disk, a closed descriptor).
inline int writeOut(const char *program, const std::string &text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return fail(program,
                    std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitSuccess;
}

} // namespace vztool

#endif
