// StringStorage.h: the layout of a string object and the internal ways to
// make and read strings.
//
// A string is a sequence of UTF-16 code units; every length and index counts
// those units. An immutable string stores its units inline after the header,
// one byte per unit when every unit is below 0x100 ("narrow", followed by a
// NUL so that an ASCII string has a C string pointer), two bytes otherwise.
// Narrow storage halves the size of the keys and values of a network store,
// and changes nothing that a caller can see. A mutable string keeps a
// std::u16string.
//
// The hash of an immutable string is computed once and cached; equal strings
// hash equal whatever their storage. It is XXH3 keyed with the process seed
// (Runtime.h), over the text one byte per unit when every unit fits a byte
// and over the UTF-16 units otherwise, so a document cannot choose keys that
// collide in a dictionary's index.
#ifndef VZ_PLATFORM_STRINGSTORAGE_H
#define VZ_PLATFORM_STRINGSTORAGE_H

#include "Runtime.h"
#include "UTF.h"

#include <string>
#include <string_view>

struct __CFString : vz::Object {
    enum : uint8_t {
        kNarrow  = 1, // inline storage, one byte per unit
        kMutable = 2, // a MutableString
        kASCII   = 4  // every unit below 0x80
    };
    uint32_t length;               // UTF-16 code units (immutable only; a MutableString
                                   // counts its buffer)
    std::atomic<uint32_t> hash{0}; // 0: not computed yet (immutable only)

    __CFString(uint8_t flags, uint32_t units) noexcept
        : Object(vz::kStringTypeID, flags), length(units)
    {
    }
    // An immortal string that no count sees (KeyOnStack).
    __CFString(uint8_t flags, uint32_t units, ImmortalTag tag) noexcept
        : Object(vz::kStringTypeID, flags, tag), length(units)
    {
    }
    bool isNarrow() const noexcept { return (bits & kNarrow) != 0; }
    bool isMutable() const noexcept { return (bits & kMutable) != 0; }
    bool isASCII() const noexcept { return (bits & kASCII) != 0; }
};

namespace vz {

struct MutableString : __CFString {
    std::u16string buffer;
    MutableString() noexcept : __CFString(kMutable, 0) {}
};

// A borrowed view of a string's units, valid while the string is unchanged.
struct StringUnits {
    const void *data   = nullptr;
    size_t      length = 0;
    bool        narrow = true;

    char16_t at(size_t i) const noexcept
    {
        return narrow ? static_cast<const uint8_t *>(data)[i]
                      : static_cast<const char16_t *>(data)[i];
    }
    const uint8_t  *narrowData() const noexcept { return static_cast<const uint8_t *>(data); }
    const char16_t *wideData() const noexcept { return static_cast<const char16_t *>(data); }
};

inline const __CFString *asString(CFStringRef s) noexcept
{
    return s;
}
// The units of an immutable narrow string, stored right after its header:
// unitsOf() without the call, for the hot paths that know the kind.
inline const uint8_t *narrowUnits(CFStringRef s) noexcept
{
    return reinterpret_cast<const uint8_t *>(s) + sizeof(__CFString);
}
StringUnits    unitsOf(CFStringRef s) noexcept;
std::u16string toU16String(CFStringRef s);  // may throw std::bad_alloc
std::string    toUTF8String(CFStringRef s); // unpaired surrogates become U+FFFD
void           copyUnits(CFStringRef s, size_t start, size_t count, char16_t *out) noexcept;
bool           stringsEqual(CFStringRef a, CFStringRef b) noexcept;
CFHashCode     stringHash(CFStringRef s) noexcept;
// The keyed hash of a text whose units all fit a byte, given one byte per
// unit (so ASCII text as its own UTF-8): what stringHash() folds for such a
// string.
uint64_t hashNarrowUnits(const uint8_t *bytes, size_t count) noexcept;
// Caches hash, which hashNarrowUnits() gave for the string's units, as the
// hash of a new immutable string, sparing the string hash a second pass.
void primeStringHash(CFStringRef s, uint64_t hash) noexcept;

// A string made in place, for one lookup by a key that is part of a longer
// text (a component of a path): no allocation, no count, no reference to
// hand out. Holds narrow text of at most kMaxUnits units; it must not be
// retained or stored, and lives only as long as the object.
class KeyOnStack {
  public:
    static constexpr size_t kMaxUnits = 255;
    // False, making nothing, for text longer than kMaxUnits.
    bool        set(const uint8_t *bytes, size_t count) noexcept;
    CFStringRef get() const noexcept { return string_; }

  private:
    alignas(__CFString) unsigned char storage_[sizeof(__CFString) + kMaxUnits + 1];
    __CFString *string_ = nullptr;
};

// Immutable strings. All return nullptr when allocation fails.
CFStringRef createStringFromUTF16(const char16_t *units, size_t count) noexcept;
CFStringRef createStringFromLatin1(const uint8_t *bytes, size_t count) noexcept;
// nullptr also for bytes that are not well-formed UTF-8 (overlong forms,
// encoded surrogates, values above U+10FFFF, truncated sequences).
CFStringRef createStringFromUTF8(const char *bytes, size_t count) noexcept;

// Replaces the content of a mutable string.
void                   setMutableUnits(CFMutableStringRef s, std::u16string &&units) noexcept;
inline std::u16string &mutableBuffer(CFMutableStringRef s) noexcept
{
    return static_cast<MutableString *>(s)->buffer;
}

// Aborts with a message when s is not a string (a fault on the platform too).
void checkString(CFTypeRef s, const char *function) noexcept;
void checkMutableString(CFTypeRef s, const char *function) noexcept;

} // namespace vz

#endif
