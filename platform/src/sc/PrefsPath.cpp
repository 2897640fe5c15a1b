// PrefsPath.cpp: path parsing and link following.
#include "PrefsPath.h"

#include "StringStorage.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

namespace vz::prefs {

namespace {

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

// links counts the links taken by the whole walk, nested or one after the
// other: a bound on nesting alone would let a damaged store whose link
// targets are long paths of links make the walk exponential.
int walkFrom(CFDictionaryRef root, const Keys &keys, size_t count, bool create, int *links,
             Keys *real, CFDictionaryRef *node)
{
    CFDictionaryRef current = root;
    if (real != nullptr) real->clear();
    for (size_t i = 0; i < count; i++) {
        CFStringRef key = keys[i].get();
        if (current == nullptr) { // below a missing component that a writer creates
            real->push_back(keys[i]);
            continue;
        }
        CFTypeRef value = CFDictionaryGetValue(current, key);
        if (value == nullptr) {
            if (!create) return kSCStatusNoKey;
            real->push_back(keys[i]);
            current = nullptr;
            continue;
        }
        if (!isDictionary(value)) return create ? kSCStatusFailed : kSCStatusNoKey;
        int         status = kSCStatusOK;
        CFStringRef target = linkTarget(value, &status);
        if (status != kSCStatusOK) return status;
        if (target == nullptr) {
            if (real != nullptr) real->push_back(keys[i]);
            current = static_cast<CFDictionaryRef>(value);
            continue;
        }
        // Every link taken counts, so a cycle ends here too.
        if (++*links > kMaxLinkDepth) return kSCStatusMaxLink;
        Keys targetKeys;
        if (!parsePath(target, &targetKeys)) return kSCStatusFailed;
        status = walkFrom(root, targetKeys, targetKeys.size(), create, links, real, &current);
        if (status != kSCStatusOK) return status;
    }
    *node = current;
    return kSCStatusOK;
}

constexpr size_t kMostLookUpKeys = 64;

// The keys of a narrow path as ranges of its bytes; false when it is not a
// path, *count 0 past kMostLookUpKeys.
bool splitPath(const StringUnits &units, size_t (*keys)[2], size_t *count) noexcept
{
    *count = 0;
    if (units.length == 0 || units.narrowData()[0] != '/') return false;
    for (size_t start = 1; start < units.length;) {
        size_t end = start;
        while (end < units.length && units.narrowData()[end] != '/')
            end++;
        if (end == start) return false; // "//"
        if (*count == kMostLookUpKeys) {
            *count = SIZE_MAX;
            return true;
        }
        keys[*count][0] = start;
        keys[*count][1] = end - start;
        ++*count;
        start = end + 1;
    }
    return true;
}

// walkFrom() for readers, over a narrow path's bytes.
int lookUpFrom(CFDictionaryRef root, CFStringRef path, bool toParent, int *links,
               CFDictionaryRef *node, CFTypeRef *last) noexcept
{
    StringUnits units = unitsOf(path);
    if (!units.narrow) return kLookUpUnsupported;
    size_t keys[kMostLookUpKeys][2];
    size_t count = 0;
    if (!splitPath(units, keys, &count)) return kSCStatusInvalidArgument;
    if (count == SIZE_MAX) return kLookUpUnsupported;
    if (toParent && count == 0) return kSCStatusInvalidArgument;
    KeyOnStack      key;
    CFDictionaryRef current = root;
    for (size_t i = 0; i < count; i++) {
        if (!key.set(units.narrowData() + keys[i][0], keys[i][1])) return kLookUpUnsupported;
        CFTypeRef value = CFDictionaryGetValue(current, key.get());
        if (toParent && i + 1 == count) {
            *node = current;
            *last = value;
            return kSCStatusOK;
        }
        if (!isDictionary(value)) return kSCStatusNoKey;
        int         status = kSCStatusOK;
        CFStringRef target = linkTarget(value, &status);
        if (status != kSCStatusOK) return status;
        if (target == nullptr) {
            current = static_cast<CFDictionaryRef>(value);
            continue;
        }
        // Every link taken counts, so a cycle ends here too.
        if (++*links > kMaxLinkDepth) return kSCStatusMaxLink;
        status = lookUpFrom(root, target, false, links, &current, nullptr);
        if (status == kSCStatusInvalidArgument) return kSCStatusFailed; // not a path
        if (status != kSCStatusOK) return status;
    }
    *node = current;
    return kSCStatusOK;
}

} // namespace

int lookUp(CFDictionaryRef root, CFStringRef path, bool toParent, CFDictionaryRef *node,
           CFTypeRef *last) noexcept
{
    int links = 0;
    return lookUpFrom(root, path, toParent, &links, node, last);
}

bool parsePath(CFStringRef path, Keys *keys)
{
    keys->clear();
    StringUnits units = unitsOf(path);
    if (units.length == 0 || units.at(0) != '/') return false;
    size_t start = 1;
    while (start < units.length) {
        size_t end = start;
        while (end < units.length && units.at(end) != '/')
            end++;
        if (end == start) return false; // "//"
        // Paths are text of one byte per unit nearly always: their keys are
        // made straight from those bytes.
        CFRef<CFStringRef> key(
            units.narrow
                ? createStringFromLatin1(units.narrowData() + start, end - start)
                : CFStringCreateWithSubstring(
                      nullptr, path,
                      CFRangeMake(static_cast<CFIndex>(start), static_cast<CFIndex>(end - start))));
        if (!key) throw std::bad_alloc();
        keys->push_back(std::move(key));
        start = end + 1; // a final "/" leaves start == length + 1 and ends the loop
    }
    return true;
}

CFStringRef linkTarget(CFTypeRef value, int *status) noexcept
{
    *status = kSCStatusOK;
    if (!isDictionary(value)) return nullptr;
    CFTypeRef target = CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), kSCResvLink);
    if (target == nullptr) return nullptr;
    if (CFGetTypeID(target) != CFStringGetTypeID()) {
        *status = kSCStatusFailed; // a damaged link: reported, never followed
        return nullptr;
    }
    return static_cast<CFStringRef>(target);
}

int walk(CFDictionaryRef root, const Keys &keys, size_t count, bool create, Keys *real,
         CFDictionaryRef *node)
{
    int links = 0;
    return walkFrom(root, keys, count, create, &links, real, node);
}

} // namespace vz::prefs
