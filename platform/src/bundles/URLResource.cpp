// URLResource.cpp: reading the file a URL names, whole and bounded.
#include "FileURL.h"
#include "WholeFile.h"

#include <cerrno>

namespace {

SInt32 urlErrorFromErrno(int error) noexcept
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
        return kCFURLResourceNotFoundError;
    case EACCES:
    case EPERM:
        return kCFURLResourceAccessViolationError;
    default: // a folder, not a regular file, over the limit, a failed read
        return kCFURLUnknownError;
    }
}

SInt32 readResource(CFURLRef url, CFDataRef *resourceData)
{
    const std::string *path = vz::filePathOf(url);
    if (path == nullptr) return kCFURLUnknownSchemeError;
    vz::FileContents file;
    if (int error = vz::readWholeFile(*path, &file); error != 0) return urlErrorFromErrno(error);
    // The data object takes the block over: a file of up to 64 MiB is not
    // copied a second time.
    CFDataRef data = CFDataCreateWithBytesNoCopy(
        nullptr, file.bytes.get(), static_cast<CFIndex>(file.size), kCFAllocatorMalloc);
    if (data == nullptr) return kCFURLUnknownError;
    (void)file.bytes.release();
    *resourceData = data;
    return 0;
}

} // namespace

Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef, CFURLRef url,
                                                 CFDataRef       *resourceData,
                                                 CFDictionaryRef *properties,
                                                 CFArrayRef       desiredProperties,
                                                 SInt32          *errorCode) noexcept
{
    if (resourceData != nullptr) *resourceData = nullptr;
    if (properties != nullptr) *properties = nullptr;
    SInt32 error = kCFURLImproperArgumentsError;
    if (url != nullptr && resourceData != nullptr && properties == nullptr &&
        desiredProperties == nullptr) {
        vz::checkURL(url, "CFURLCreateDataAndPropertiesFromResource");
        error = vz::guarded<SInt32>(kCFURLUnknownError,
                                    [&] { return readResource(url, resourceData); });
    }
    if (errorCode != nullptr) *errorCode = error;
    return error == 0;
}
