// StoreFile.cpp: reading and parsing dictionary files.
#include "StoreFile.h"

#include "PlistReader.h"
#include "SystemError.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cerrno>

namespace vz {

CFRef<CFDictionaryRef> parseDictionary(std::span<const uint8_t> bytes) noexcept
{
    // The bytes are parsed where they are; the data object only lends them.
    CFRef<CFDataRef> data(CFDataCreateWithBytesNoCopy(
        nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()), kCFAllocatorNull));
    if (!data) return {};
    CFRef<CFPropertyListRef> tree(
        CFPropertyListCreateFromXMLData(nullptr, data.get(), kCFPropertyListImmutable, nullptr));
    if (!tree || CFGetTypeID(tree.get()) != CFDictionaryGetTypeID()) return {};
    return CFRef<CFDictionaryRef>(static_cast<CFDictionaryRef>(tree.release()));
}

CFRef<CFDictionaryRef> parseDictionary(PlistReader &reader, size_t count) noexcept
{
    if (!reader.parseBuffer(count, true)) return {};
    CFRef<CFPropertyListRef> tree(reader.takeResult());
    if (!tree || CFGetTypeID(tree.get()) != CFDictionaryGetTypeID()) return {};
    return CFRef<CFDictionaryRef>(static_cast<CFDictionaryRef>(tree.release()));
}

int readDictionaryFile(const std::string &path, FileIdentity *identity,
                       CFRef<CFDictionaryRef> *root) noexcept
{
    FileContents contents;
    int          error = readWholeFile(path, &contents);
    if (error == ENOENT) {
        *identity = FileIdentity();
        *root     = emptyDictionary();
        return *root ? kSCStatusOK : kSCStatusFailed;
    }
    if (error != 0) return statusFromErrno(error);
    CFRef<CFDictionaryRef> tree = parseDictionary(contents.view());
    if (!tree) return kSCStatusFailed;
    *identity = contents.identity;
    *root     = std::move(tree);
    return kSCStatusOK;
}

CFRef<CFDataRef> serializeDictionary(CFDictionaryRef root) noexcept
{
    return CFRef<CFDataRef>(CFPropertyListCreateXMLData(nullptr, root));
}

CFRef<CFDictionaryRef> emptyDictionary() noexcept
{
    return CFRef<CFDictionaryRef>(CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                     &kCFTypeDictionaryKeyCallBacks,
                                                     &kCFTypeDictionaryValueCallBacks));
}

} // namespace vz
