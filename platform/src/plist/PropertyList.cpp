// PropertyList.cpp: the C entry points of XML property lists, a thin skin
// over PlistReader and PlistWriter.
#include "PlistReader.h"
#include "PlistWriter.h"
#include "Runtime.h"
#include "StringStorage.h"

#include <cstdlib>

using namespace vz;

namespace {

CFStringRef createMessage(const std::string &message) noexcept
{
    return createStringFromUTF8(message.data(), message.size());
}

} // namespace

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData,
                                                  CFOptionFlags mutabilityOption,
                                                  CFStringRef  *errorString) noexcept
{
    if (errorString != nullptr) *errorString = nullptr;
    std::string       message;
    CFPropertyListRef result = nullptr;
    if (xmlData == nullptr) {
        message = "no data to read";
    } else {
        result = readPropertyList(CFDataGetBytePtr(xmlData),
                                  static_cast<size_t>(CFDataGetLength(xmlData)), mutabilityOption,
                                  errorString != nullptr ? &message : nullptr);
    }
    if (result == nullptr && errorString != nullptr) *errorString = createMessage(message);
    return result;
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef propertyList) noexcept
{
    return guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
        OutputBuffer out;
        if (!writePropertyList(propertyList, out, nullptr)) return nullptr;
        auto  length = static_cast<CFIndex>(out.size());
        char *bytes  = out.release();
        // The data object takes the malloc'd block over: no second copy of a
        // document that may be megabytes long.
        CFDataRef data = CFDataCreateWithBytesNoCopy(
            nullptr, reinterpret_cast<const UInt8 *>(bytes), length, kCFAllocatorMalloc);
        if (data == nullptr) std::free(bytes);
        return data;
    });
}

Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format) noexcept
{
    if (plist == nullptr) return false;
    if (format != kCFPropertyListXMLFormat_v1_0) return isPropertyListTree(plist);
    // For XML, valid means writable: the text of strings and dates counts too.
    return guarded<Boolean>(false, [&]() -> Boolean {
        OutputBuffer out;
        return writePropertyList(plist, out, nullptr);
    });
}
