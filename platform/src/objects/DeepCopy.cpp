// DeepCopy.cpp: CFPropertyListCreateDeepCopy and CFPropertyListIsValid's
// sibling checks.
//
// Containers are always new; immutable leaves (numbers, booleans, dates,
// immutable strings and data) are shared, since nothing can change them,
// unless the caller asked for mutable leaves. A tree deeper than 512 levels
// (which only a container made to hold itself can be) gives NULL.
#include "Containers.h"
#include "StringStorage.h"

#include <vector>

using namespace vz;

namespace {

constexpr int kMaxDepth = 512;

CFTypeRef copyValue(CFTypeRef value, CFOptionFlags option, int depth)
{
    if (value == nullptr || depth > kMaxDepth) return nullptr;
    switch (typeOf(value)) {
    case kStringTypeID: {
        auto s = static_cast<CFStringRef>(value);
        if (option == kCFPropertyListMutableContainersAndLeaves)
            return CFStringCreateMutableCopy(nullptr, 0, s);
        return CFStringCreateCopy(nullptr, s);
    }
    case kDataTypeID: {
        auto d = static_cast<CFDataRef>(value);
        if (option == kCFPropertyListMutableContainersAndLeaves)
            return CFDataCreateMutableCopy(nullptr, 0, d);
        return CFDataCreateCopy(nullptr, d);
    }
    case kNumberTypeID:
    case kBooleanTypeID:
    case kDateTypeID:
        retainObject(value);
        return value;
    case kArrayTypeID: {
        auto                      source = arrayValues(static_cast<CFArrayRef>(value));
        std::vector<const void *> values;
        values.reserve(source.size());
        for (const void *element : source) {
            CFTypeRef copy = copyValue(element, option, depth + 1);
            if (copy == nullptr) {
                for (const void *made : values)
                    releaseObject(made);
                return nullptr;
            }
            values.push_back(copy);
        }
        return createArrayAdopting(values.data(), values.size(),
                                   option != kCFPropertyListImmutable);
    }
    case kDictionaryTypeID: {
        auto                      source = dictionaryEntries(static_cast<CFDictionaryRef>(value));
        std::vector<const void *> keys;
        std::vector<const void *> values;
        keys.reserve(source.size());
        values.reserve(source.size());
        bool ok = true;
        for (const DictionaryEntry &entry : source) {
            CFTypeRef key = copyValue(entry.key, kCFPropertyListImmutable, depth + 1);
            if (key == nullptr) {
                ok = false;
                break;
            }
            CFTypeRef copy = copyValue(entry.value, option, depth + 1);
            if (copy == nullptr) {
                releaseObject(key);
                ok = false;
                break;
            }
            keys.push_back(key);
            values.push_back(copy);
        }
        if (!ok) {
            for (const void *made : keys)
                releaseObject(made);
            for (const void *made : values)
                releaseObject(made);
            return nullptr;
        }
        return createDictionaryAdopting(keys.data(), values.data(), keys.size(),
                                        option != kCFPropertyListImmutable);
    }
    default:
        return nullptr;
    }
}

} // namespace

CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef, CFPropertyListRef propertyList,
                                               CFOptionFlags mutabilityOption) noexcept
{
    if (propertyList == nullptr) return nullptr;
    return guarded<CFPropertyListRef>(nullptr,
                                      [&] { return copyValue(propertyList, mutabilityOption, 0); });
}
