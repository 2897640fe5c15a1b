// PlistTestSupport.h: what the property-list suites share: owning
// references, writing a tree to text, and parsing a text every way the reader
// can take it (whole through the public entry point, and in pieces down to
// one byte through the reader itself) with a check that every way agrees.
#ifndef VZ_TESTS_PLISTTESTSUPPORT_H
#define VZ_TESTS_PLISTTESTSUPPORT_H

#include "PlistReader.h"
#include "Runtime.h"
#include "TestSupport.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace plisttest {

using Ref = vz::CFRef<CFTypeRef>;

// The canonical text of a tree, or nothing when the writer refuses it.
inline std::optional<std::string> WriteXML(CFPropertyListRef plist)
{
    CFDataRef data = CFPropertyListCreateXMLData(nullptr, plist);
    if (data == nullptr) return std::nullopt;
    std::string text(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                     static_cast<size_t>(CFDataGetLength(data)));
    CFRelease(data);
    return text;
}

struct Parsed {
    Ref         plist;
    std::string error; // empty on success
};

// Through CFPropertyListCreateFromXMLData, asking for the message.
inline Parsed ParseWhole(std::string_view text, CFOptionFlags mutability = kCFPropertyListImmutable)
{
    CFDataRef   data    = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                                       static_cast<CFIndex>(text.size()));
    CFStringRef message = nullptr;
    Parsed      parsed;
    parsed.plist = Ref(CFPropertyListCreateFromXMLData(nullptr, data, mutability, &message));
    CFRelease(data);
    if (message != nullptr) {
        parsed.error = vztest::Utf8(message);
        CFRelease(message);
    }
    EXPECT_EQ(!parsed.plist, !parsed.error.empty()) << "a result and a message, or neither";
    return parsed;
}

// Through the reader, in pieces of `piece` bytes.
inline Parsed ParseInPieces(std::string_view text, size_t piece,
                            CFOptionFlags mutability = kCFPropertyListImmutable)
{
    vz::PlistReader reader(mutability);
    bool            ok = true;
    for (size_t at = 0; ok && at < text.size(); at += piece) {
        size_t count = std::min(piece, text.size() - at);
        ok = reader.feed(reinterpret_cast<const uint8_t *>(text.data()) + at, count, false);
    }
    if (ok) ok = reader.feed(nullptr, 0, true);
    Parsed parsed;
    if (ok)
        parsed.plist = Ref(reader.takeResult());
    else
        parsed.error = reader.errorMessage();
    return parsed;
}

// Parses whole, then in pieces of 1, 2, 3, 7 and 4096 bytes, and expects
// every piecewise parse to agree with the whole one: an equal tree, or a
// refusal. Returns the whole parse.
inline Parsed ParseEveryWay(std::string_view text,
                            CFOptionFlags    mutability = kCFPropertyListImmutable)
{
    Parsed whole = ParseWhole(text, mutability);
    for (size_t piece : {1, 2, 3, 7, 4096}) {
        Parsed split = ParseInPieces(text, piece, mutability);
        if (whole.plist) {
            EXPECT_TRUE(split.plist && CFEqual(whole.plist.get(), split.plist.get()))
                << "in pieces of " << piece << ": " << split.error;
        } else {
            EXPECT_FALSE(split.plist) << "in pieces of " << piece << " accepted what whole was not";
        }
    }
    return whole;
}

// A document around one value's XML.
inline std::string Document(std::string_view body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" +
           std::string(body) + "\n</plist>\n";
}

// The string of UTF-16 units.
inline Ref Units(std::u16string_view units)
{
    return Ref(CFStringCreateWithCharacters(nullptr,
                                            reinterpret_cast<const UniChar *>(units.data()),
                                            static_cast<CFIndex>(units.size())));
}

} // namespace plisttest

#endif
