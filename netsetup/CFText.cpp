// CFText.cpp: UTF-8 in and out of strings, and typed reads of the values of
// an entity.
#include "CFText.h"

#include "Command.h"
#include "MoreCFQ.h"

namespace netsetup {

bool IsUtf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();)
        if (vztool::nextUtf8(text, i) < 0) return false;
    return true;
}

Ref<CFStringRef> NewString(const std::string &utf8)
{
    Ref<CFStringRef> text(
        CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(utf8.data()),
                                static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
    if (!text) throw Failure("cannot make a string of " + Quote(utf8), kCFQErrorObjectNotMade);
    return text;
}

std::string Utf8(CFStringRef text)
{
    return vztool::utf8(text);
}

static bool IsKind(CFTypeRef value, CFTypeID type)
{
    return value != nullptr && CFGetTypeID(value) == type;
}

std::optional<std::string> StringValue(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value = dict != nullptr ? CFDictionaryGetValue(dict, key) : nullptr;
    if (!IsKind(value, CFStringGetTypeID())) return std::nullopt;
    return Utf8(static_cast<CFStringRef>(value));
}

std::vector<std::string> StringsValue(CFDictionaryRef dict, CFStringRef key)
{
    std::vector<std::string> texts;
    CFTypeRef                value = dict != nullptr ? CFDictionaryGetValue(dict, key) : nullptr;
    if (!IsKind(value, CFArrayGetTypeID())) return texts;
    auto array = static_cast<CFArrayRef>(value);
    for (CFIndex i = 0; i < CFArrayGetCount(array); i++) {
        CFTypeRef item = CFArrayGetValueAtIndex(array, i);
        if (IsKind(item, CFStringGetTypeID()))
            texts.push_back(Utf8(static_cast<CFStringRef>(item)));
    }
    return texts;
}

std::optional<long long> IntegerValue(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value  = dict != nullptr ? CFDictionaryGetValue(dict, key) : nullptr;
    long long number = 0;
    if (!IsKind(value, CFNumberGetTypeID()) ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberLongLongType, &number))
        return std::nullopt;
    return number;
}

CFDictionaryRef DictionaryValue(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value = dict != nullptr ? CFDictionaryGetValue(dict, key) : nullptr;
    return IsKind(value, CFDictionaryGetTypeID()) ? static_cast<CFDictionaryRef>(value) : nullptr;
}

Ref<CFArrayRef> NewStringArray(const std::vector<std::string> &texts)
{
    std::vector<Ref<CFStringRef>> strings;
    std::vector<const void *>     values;
    for (const std::string &text : texts) {
        strings.push_back(NewString(text));
        values.push_back(strings.back().get());
    }
    Ref<CFArrayRef> array(CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()),
                                        &kCFTypeArrayCallBacks));
    if (!array) throw Failure("cannot make an array", kCFQErrorObjectNotMade);
    return array;
}

} // namespace netsetup
