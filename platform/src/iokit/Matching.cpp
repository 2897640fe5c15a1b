// Matching.cpp: selecting registry entries by a matching dictionary.
#include "Matching.h"

#include "ClassTable.h"
#include "StringStorage.h"

#include <IOKit/IOKitKeys.h>

namespace vz {

IOReturn findMatchingEntries(const Registry &registry, CFDictionaryRef matching,
                             std::vector<Registry::Index> *entries)
{
    CFStringRef providerKey = __CFStringMakeConstantString(kIOProviderClassKey);
    CFTypeRef   wanted      = CFDictionaryGetValue(matching, providerKey);
    if (wanted != nullptr && CFGetTypeID(wanted) != CFStringGetTypeID())
        return kIOReturnBadArgument;

    // Per class: 1 conforms, 0 does not.
    std::vector<char> classMatches(registry.classCount(), 1);
    if (wanted != nullptr) {
        std::string wantedText = toUTF8String(static_cast<CFStringRef>(wanted));
        for (uint32_t c = 0; c < registry.classCount(); ++c)
            classMatches[c] = classConformsTo(registry.classUTF8(c), wantedText) ? 1 : 0;
    }

    CFIndex                   count = CFDictionaryGetCount(matching);
    std::vector<const void *> keys(static_cast<size_t>(count));
    std::vector<const void *> values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(matching, keys.data(), values.data());

    entries->clear();
    for (Registry::Index entry = 0; entry < registry.size(); ++entry) {
        if (!classMatches[registry.classIndex(entry)]) continue;
        bool selected = true;
        for (CFIndex i = 0; i < count && selected; ++i) {
            if (CFEqual(keys[static_cast<size_t>(i)], providerKey)) continue;
            CFTypeRef property =
                registry.property(entry, static_cast<CFStringRef>(keys[static_cast<size_t>(i)]));
            selected = property != nullptr && CFEqual(property, values[static_cast<size_t>(i)]);
        }
        if (selected) entries->push_back(entry);
    }
    return kIOReturnSuccess;
}

} // namespace vz
