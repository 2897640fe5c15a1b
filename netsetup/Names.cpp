// Names.cpp: the escaped form of text, the checks of text and names from the
// command line, names in NFC, and the refusal of a name that is an ID.
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

// What a character does to a terminal or a row, when it does anything.
enum class Hazard { None, Control, Bidirectional, Noncharacter };

Hazard HazardOf(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return Hazard::Control;
    if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return Hazard::Bidirectional;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return Hazard::Noncharacter;
    return Hazard::None;
}

const char *Words(Hazard hazard)
{
    switch (hazard) {
    case Hazard::Control:
        return "a control character";
    case Hazard::Bidirectional:
        return "a bidirectional override or isolate, which reorders what follows it";
    case Hazard::Noncharacter:
        return "a noncharacter, which is not for text";
    case Hazard::None:
        break;
    }
    return "";
}

// "\x1b", "\u202e", "\U0010fffe".
std::string Escape(char32_t c)
{
    char text[16];
    if (c < 0x80)
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c));
    else if (c < 0x10000)
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    else
        std::snprintf(text, sizeof text, "\\U%08x", static_cast<unsigned>(c));
    return text;
}

bool IsAscii(const std::string &text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// The first character of text whose hazard is refused, and that hazard.
Hazard FirstRefused(const std::string &text, bool strict, char32_t *found)
{
    for (size_t i = 0; i < text.size();) {
        int32_t c      = NextUtf8(text, i);
        Hazard  hazard = c < 0 ? Hazard::None : HazardOf(static_cast<char32_t>(c));
        // Text other than a name may hold what only misleads the eye; it is
        // shown escaped.
        if (!strict && hazard == Hazard::Bidirectional) continue;
        if (!strict && hazard == Hazard::Control && c >= 0x80) continue;
        if (hazard != Hazard::None) {
            *found = static_cast<char32_t>(c);
            return hazard;
        }
    }
    return Hazard::None;
}

void CheckCharacters(const std::string &text, const std::string &what, bool strict)
{
    if (text.empty()) throw UsageError(what + " is empty");
    if (!IsUtf8(text)) throw UsageError(what + " " + Quote(text) + " is not UTF-8");
    char32_t c      = 0;
    Hazard   hazard = FirstRefused(text, strict, &c);
    if (hazard == Hazard::None) return;
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

std::string Printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t  start = i;
        int32_t c     = NextUtf8(text, i);
        if (c < 0) {
            out += Escape(static_cast<unsigned char>(text[start]));
        } else if (HazardOf(static_cast<char32_t>(c)) != Hazard::None) {
            out += Escape(static_cast<char32_t>(c));
        } else {
            out.append(text, start, i - start);
        }
    }
    return out;
}

std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return Printable(out) + "\"";
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
