// Error.cpp: error objects (a domain, a code and a dictionary of details).
#include "Runtime.h"
#include "StringStorage.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdio>

struct __CFError : vz::Object {
    vz::CFRef<CFStringRef>     domain;
    CFIndex                    code = 0;
    vz::CFRef<CFDictionaryRef> userInfo;

    explicit __CFError(CFTypeID type) noexcept : Object(type) {}
};

namespace {

bool equalErrors(const vz::Object *a, const vz::Object *b)
{
    auto *x = static_cast<const __CFError *>(a);
    auto *y = static_cast<const __CFError *>(b);
    return x->code == y->code && CFEqual(x->domain.get(), y->domain.get()) &&
           CFEqual(x->userInfo.get(), y->userInfo.get());
}

CFHashCode hashError(const vz::Object *object)
{
    return static_cast<CFHashCode>(static_cast<const __CFError *>(object)->code);
}

CFStringRef describeError(const vz::Object *object)
{
    auto *error = static_cast<const __CFError *>(object);
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("Error Domain=%@ Code=%ld %@"),
                                    error->domain.get(), static_cast<long>(error->code),
                                    error->userInfo.get());
}

const vz::TypeClass kErrorClass = {"CFError", vz::deleteObject<__CFError>, equalErrors, hashError,
                                   describeError};

const __CFError *checkError(CFErrorRef err, const char *function) noexcept
{
    if (err == nullptr || CFGetTypeID(err) != CFErrorGetTypeID()) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not an error",
                      function);
        vz::fatal(message);
    }
    return err;
}

// The string under key in the error's details, retained, or NULL.
CFStringRef copyDetail(CFErrorRef err, CFStringRef key)
{
    CFTypeRef value = CFDictionaryGetValue(err->userInfo.get(), key);
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return nullptr;
    return static_cast<CFStringRef>(CFRetain(value));
}

} // namespace

CFTypeID CFErrorGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kErrorClass);
    return type;
}

CFErrorRef CFErrorCreate(CFAllocatorRef, CFErrorDomain domain, CFIndex code,
                         CFDictionaryRef userInfo) noexcept
{
    if (domain == nullptr) vz::fatal("CFErrorCreate called with a NULL domain");
    vz::CFRef<CFStringRef>     domainCopy(CFStringCreateCopy(nullptr, domain));
    vz::CFRef<CFDictionaryRef> details(userInfo != nullptr
                                           ? CFDictionaryCreateCopy(nullptr, userInfo)
                                           : CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                                &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks));
    if (!domainCopy || !details) return nullptr;
    auto *error = vz::newObject<__CFError>(CFErrorGetTypeID());
    if (error == nullptr) return nullptr;
    error->domain   = std::move(domainCopy);
    error->code     = code;
    error->userInfo = std::move(details);
    return error;
}

CFErrorDomain CFErrorGetDomain(CFErrorRef err) noexcept
{
    return checkError(err, "CFErrorGetDomain")->domain.get();
}

CFIndex CFErrorGetCode(CFErrorRef err) noexcept
{
    return checkError(err, "CFErrorGetCode")->code;
}

CFDictionaryRef CFErrorCopyUserInfo(CFErrorRef err) noexcept
{
    return static_cast<CFDictionaryRef>(
        CFRetain(checkError(err, "CFErrorCopyUserInfo")->userInfo.get()));
}

CFStringRef CFErrorCopyDescription(CFErrorRef err) noexcept
{
    checkError(err, "CFErrorCopyDescription");
    if (CFStringRef described = copyDetail(err, kCFErrorLocalizedDescriptionKey)) return described;
    return CFStringCreateWithFormat(nullptr, nullptr,
                                    CFSTR("The operation couldn't be completed. (%@ error %ld.)"),
                                    err->domain.get(), static_cast<long>(err->code));
}

CFStringRef CFErrorCopyFailureReason(CFErrorRef err) noexcept
{
    checkError(err, "CFErrorCopyFailureReason");
    return copyDetail(err, kCFErrorLocalizedFailureReasonKey);
}
