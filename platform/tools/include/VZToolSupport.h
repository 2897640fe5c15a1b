// VZToolSupport.h: the small pieces every command of the project would
// otherwise write again: an owned reference released at the end of a scope,
// the UTF-8 text of a string, a one-line error on standard error and a
// checked write to standard output. Header only, over the framework headers;
// a command reaches it through the vz_platform_tools target.
#ifndef VZ_TOOLSUPPORT_H
#define VZ_TOOLSUPPORT_H

#include <CoreFoundation/CoreFoundation.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace vztool {

// An owned reference, released at the end of the scope.
template <typename T> struct Owned {
    T ref   = nullptr;
    Owned() = default;
    explicit Owned(T r) : ref(r) {}
    Owned(const Owned &)            = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned()
    {
        if (ref != nullptr) CFRelease(ref);
    }
};

// The UTF-8 text of a string; "?" when it has none (an unpaired surrogate).
inline std::string utf8(CFStringRef string)
{
    CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
    std::string text(static_cast<size_t>(size), '\0');
    if (!CFStringGetCString(string, text.data(), size, kCFStringEncodingUTF8)) return "?";
    text.resize(std::strlen(text.c_str()));
    return text;
}

// "PROGRAM: MESSAGE" on standard error; the failure exit status, 1.
inline int fail(const char *program, const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return 1;
}

// Writes text to standard output and flushes it: 0, or 1 with the reason on
// standard error when the write fails (a full disk, a closed descriptor).
inline int writeOut(const char *program, const std::string &text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return fail(program,
                    std::string("cannot write to standard output: ") + std::strerror(errno));
    return 0;
}

} // namespace vztool

#endif
