// Names.cpp: quoted text for messages, the checks of text and names from the
// command line (characters classed by the shared tool support's rule), names
// in NFC, and the refusal of a name that is an ID.
#include "Names.h"

#include "CFText.h"
#include "Command.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cctype>
#include <cstdio>
#include <vector>

namespace netsetup {

namespace {

const char *Words(vztool::HazardKind hazard)
{
    switch (hazard) {
    case vztool::kControlHazard:
        return "a control character";
    case vztool::kBidirectionalHazard:
        return "a bidirectional override or isolate, which reorders what follows it";
    case vztool::kNoncharacterHazard:
        return "a noncharacter, which is not for text";
    case vztool::kNoHazard:
        break;
    }
    return "";
}

bool IsAscii(const std::string &text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// The first character of text whose hazard is refused, and that hazard.
vztool::HazardKind FirstRefused(const std::string &text, bool strict, char32_t *found)
{
    for (size_t i = 0; i < text.size();) {
        int32_t            c = vztool::nextUtf8(text, i);
        vztool::HazardKind hazard =
            c < 0 ? vztool::kNoHazard : vztool::hazardOf(static_cast<char32_t>(c));
        // Text other than a name may hold what only misleads the eye; it is
        // shown escaped.
        if (!strict && hazard == vztool::kBidirectionalHazard) continue;
        if (!strict && hazard == vztool::kControlHazard && c >= 0x80) continue;
        if (hazard != vztool::kNoHazard) {
            *found = static_cast<char32_t>(c);
            return hazard;
        }
    }
    return vztool::kNoHazard;
}

void CheckCharacters(const std::string &text, const std::string &what, bool strict)
{
    if (text.empty()) throw UsageError(what + " is empty");
    if (!IsUtf8(text)) throw UsageError(what + " " + Quote(text) + " is not UTF-8");
    char32_t           c      = 0;
    vztool::HazardKind hazard = FirstRefused(text, strict, &c);
    if (hazard == vztool::kNoHazard) return;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    throw UsageError(what + " " + Quote(text) + " holds " + code + ", " + Words(hazard));
}

bool SameIgnoringCase(const std::string &a, const std::string &b)
{
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); i++)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }
    if (!IsUtf8(a) || !IsUtf8(b)) return a == b;
    return CFStringCompare(NewString(a).get(), NewString(b).get(), kCFCompareCaseInsensitive) ==
           kCFCompareEqualTo;
}

// The keys of dict that are strings.
void AddKeys(CFDictionaryRef dict, std::vector<std::string> *ids)
{
    CFIndex                   count = CFDictionaryGetCount(dict);
    std::vector<const void *> keys(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dict, keys.data(), nullptr);
    for (const void *id : keys)
        if (CFGetTypeID(id) == CFStringGetTypeID())
            ids->push_back(Utf8(static_cast<CFStringRef>(id)));
}

} // namespace

std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return vztool::printable(out) + "\"";
}

void CheckText(const std::string &text, const std::string &what)
{
    CheckCharacters(text, what, false);
}

std::string CheckNewName(const std::string &name)
{
    CheckCharacters(name, "the name", true);
    return NameKey(name);
}

std::string NameKey(const std::string &text)
{
    if (IsAscii(text) || !IsUtf8(text)) return text;
    Ref<CFMutableStringRef> form(CFStringCreateMutableCopy(nullptr, 0, NewString(text).get()));
    if (!form) throw Failure("cannot compare the name " + Quote(text), kCFQErrorObjectNotMade);
    CFStringNormalize(form.get(), kCFStringNormalizationFormC);
    return Utf8(form.get());
}

bool NameMatches(const std::optional<std::string> &stored, const std::string &key)
{
    return stored && (*stored == key || NameKey(*stored) == key);
}

void CheckNameIsNoID(const std::string &name)
{
    SCPreferencesRef         prefs = MoreSCGetSCPreferencesRef();
    std::vector<std::string> locations, services;
    auto root = static_cast<CFDictionaryRef>(SCPreferencesGetValue(prefs, kSCPrefSets));
    if (root != nullptr && CFGetTypeID(root) == CFDictionaryGetTypeID()) {
        CFIndex                   count = CFDictionaryGetCount(root);
        std::vector<const void *> ids(static_cast<size_t>(count)), sets(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(root, ids.data(), sets.data());
        for (CFIndex i = 0; i < count; i++) {
            if (CFGetTypeID(ids[i]) == CFStringGetTypeID())
                locations.push_back(Utf8(static_cast<CFStringRef>(ids[i])));
            if (CFGetTypeID(sets[i]) != CFDictionaryGetTypeID()) continue;
            // A set's own IDs for its services: Sets/<set>/Network/Service/<ID>.
            CFDictionaryRef network =
                DictionaryValue(static_cast<CFDictionaryRef>(sets[i]), kSCCompNetwork);
            if (CFDictionaryRef own = DictionaryValue(network, kSCCompService))
                AddKeys(own, &services);
        }
    }
    CFPropertyListRef shared = SCPreferencesGetValue(prefs, kSCPrefNetworkServices);
    if (shared != nullptr && CFGetTypeID(shared) == CFDictionaryGetTypeID())
        AddKeys(static_cast<CFDictionaryRef>(shared), &services);
    auto refuse = [&name](const std::vector<std::string> &ids, const char *kind) {
        for (const std::string &id : ids)
            if (SameIgnoringCase(name, id))
                throw Failure("the name " + Quote(name) + " is the ID of " + kind +
                              "; a name must not be an ID");
    };
    refuse(locations, "a location");
    refuse(services, "a service");
}

} // namespace netsetup
