// StringCore.cpp: the string object, its storage and the core functions:
// constants, creation from units, length and character access, copies, and
// the basic edits of a mutable string.
//
// Invariants: an immutable string never changes after creation, so its hash
// may be cached and CFStringCreateCopy may return it retained; a narrow
// string holds only units below 0x100 and is NUL-terminated; the kASCII bit
// is set exactly when every unit is below 0x80 (immutable strings only).
#include "StringStorage.h"

// Inlined: most strings hashed are keys of a few bytes, for which the call
// into the library and its dispatch cost as much as the hash.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

using namespace vz;

namespace {

constexpr uint32_t kMaxLength = 0x7FFFFFFF;

const uint8_t *narrowTail(const __CFString *s)
{
    return narrowUnits(s);
}
const char16_t *wideTail(const __CFString *s)
{
    return reinterpret_cast<const char16_t *>(reinterpret_cast<const uint8_t *>(s) +
                                              sizeof(__CFString));
}

void destroyString(Object *object)
{
    auto *s = static_cast<__CFString *>(object);
    if (s->isMutable()) {
        deleteObject<MutableString>(object);
        return;
    }
    deleteObjectWithTail<__CFString>(object);
}

bool equalStrings(const Object *a, const Object *b)
{
    return stringsEqual(static_cast<const __CFString *>(a), static_cast<const __CFString *>(b));
}

CFHashCode hashString(const Object *object)
{
    return stringHash(static_cast<const __CFString *>(object));
}

CFStringRef describeString(const Object *object)
{
    auto *s = static_cast<const __CFString *>(object);
    return CFStringCreateCopy(nullptr, s);
}

bool allASCII(const uint8_t *bytes, size_t count)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; i < count; ++i)
        if (bytes[i] & 0x80) return false;
    return true;
}

// An immutable narrow string of count bytes (Latin 1 units).
__CFString *makeNarrow(const uint8_t *bytes, size_t count, bool ascii)
{
    if (count > kMaxLength) return nullptr;
    uint8_t flags = __CFString::kNarrow | (ascii ? __CFString::kASCII : 0);
    auto   *s     = newObjectWithTail<__CFString>(count + 1, flags, static_cast<uint32_t>(count));
    if (s == nullptr) return nullptr;
    auto *tail = const_cast<uint8_t *>(narrowTail(s));
    if (count != 0) std::memcpy(tail, bytes, count);
    tail[count] = 0;
    return s;
}

__CFString *makeWide(const char16_t *units, size_t count)
{
    if (count > kMaxLength) return nullptr;
    auto *s = newObjectWithTail<__CFString>((count + 1) * sizeof(char16_t), uint8_t(0),
                                            static_cast<uint32_t>(count));
    if (s == nullptr) return nullptr;
    auto *tail = const_cast<char16_t *>(wideTail(s));
    if (count != 0) std::memcpy(tail, units, count * sizeof(char16_t));
    tail[count] = 0;
    return s;
}

void checkRange(CFStringRef s, CFRange range, const char *function)
{
    size_t length = unitsOf(s).length;
    if (range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location) + static_cast<size_t>(range.length) > length) {
        char message[160];
        std::snprintf(message, sizeof message, "%s: range {%ld, %ld} out of bounds (length %zu)",
                      function, range.location, range.length, length);
        fatal(message);
    }
}

MutableString *asMutable(CFMutableStringRef s, const char *function)
{
    checkMutableString(s, function);
    return static_cast<MutableString *>(s);
}

// A 64-bit hash folded to the cached 32 bits; 0 marks "not computed yet".
uint32_t foldHash(uint64_t hash)
{
    uint32_t folded = static_cast<uint32_t>(hash ^ (hash >> 32));
    return folded != 0 ? folded : 1;
}

bool fitsBytes(const StringUnits &units)
{
    for (size_t i = 0; i < units.length; ++i)
        if (units.wideData()[i] >= 0x100) return false;
    return true;
}

// The hash of wide units that all fit a byte, fed to XXH3 one byte per unit
// in pieces: the same value hashNarrowUnits() gives for the narrowed text.
uint64_t hashWideAsNarrow(const StringUnits &units)
{
    XXH3_state_t state;
    XXH3_64bits_reset_withSeed(&state, processSeed());
    uint8_t piece[256];
    for (size_t done = 0; done < units.length;) {
        size_t count = std::min(sizeof piece, units.length - done);
        for (size_t i = 0; i < count; ++i)
            piece[i] = static_cast<uint8_t>(units.wideData()[done + i]);
        XXH3_64bits_update(&state, piece, count);
        done += count;
    }
    return XXH3_64bits_digest(&state);
}

std::mutex &constantsMutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

} // namespace

namespace vz {

const TypeClass kStringClass = {"CFString", destroyString, equalStrings, hashString,
                                describeString};

StringUnits unitsOf(CFStringRef s) noexcept
{
    if (s->isMutable()) {
        const std::u16string &buffer = static_cast<const MutableString *>(s)->buffer;
        return StringUnits{buffer.data(), buffer.size(), false};
    }
    if (s->isNarrow()) return StringUnits{narrowTail(s), s->length, true};
    return StringUnits{wideTail(s), s->length, false};
}

std::u16string toU16String(CFStringRef s)
{
    StringUnits units = unitsOf(s);
    if (!units.narrow) return std::u16string(units.wideData(), units.length);
    std::u16string text(units.length, u'\0');
    for (size_t i = 0; i < units.length; ++i)
        text[i] = units.narrowData()[i];
    return text;
}

std::string toUTF8String(CFStringRef s)
{
    StringUnits units = unitsOf(s);
    if (units.narrow && !s->isMutable() && s->isASCII())
        return std::string(reinterpret_cast<const char *>(units.narrowData()), units.length);
    std::string text;
    text.reserve(units.length + units.length / 2);
    for (size_t i = 0; i < units.length;) {
        char32_t c =
            units.narrow ? units.narrowData()[i++] : nextUTF16(units.wideData(), i, units.length);
        if (isSurrogate(c)) c = 0xFFFD; // unpaired
        char bytes[4];
        text.append(bytes, encodeUTF8(c, bytes));
    }
    return text;
}

void copyUnits(CFStringRef s, size_t start, size_t count, char16_t *out) noexcept
{
    StringUnits units = unitsOf(s);
    if (units.narrow) {
        const uint8_t *from = units.narrowData() + start;
        for (size_t i = 0; i < count; ++i)
            out[i] = from[i];
    } else if (count != 0) {
        std::memcpy(out, units.wideData() + start, count * sizeof(char16_t));
    }
}

bool stringsEqual(CFStringRef a, CFStringRef b) noexcept
{
    if (a == b) return true;
    // Immutable strings tell most differences from their headers: their
    // lengths, and their hashes once both are known (equal text, equal hash,
    // whatever the storage). A lookup in a small dictionary compares its key
    // with every key there.
    if (!a->isMutable() && !b->isMutable()) {
        if (a->length != b->length) return false;
        uint32_t x = a->hash.load(std::memory_order_relaxed);
        uint32_t y = b->hash.load(std::memory_order_relaxed);
        if (x != 0 && y != 0 && x != y) return false;
    }
    StringUnits x = unitsOf(a);
    StringUnits y = unitsOf(b);
    if (x.length != y.length) return false;
    if (x.narrow == y.narrow)
        return x.length == 0 ||
               std::memcmp(x.data, y.data, x.length * (x.narrow ? 1 : sizeof(char16_t))) == 0;
    for (size_t i = 0; i < x.length; ++i)
        if (x.at(i) != y.at(i)) return false;
    return true;
}

uint64_t hashNarrowUnits(const uint8_t *bytes, size_t count) noexcept
{
    return XXH3_64bits_withSeed(bytes, count, processSeed());
}

void primeStringHash(CFStringRef s, uint64_t hash) noexcept
{
    const_cast<__CFString *>(s)->hash.store(foldHash(hash), std::memory_order_relaxed);
}

CFHashCode stringHash(CFStringRef s) noexcept
{
    if (!s->isMutable()) {
        uint32_t cached = s->hash.load(std::memory_order_relaxed);
        if (cached != 0) return cached;
    }
    StringUnits units = unitsOf(s);
    uint64_t    hash  = 0;
    if (units.narrow) {
        hash = hashNarrowUnits(units.narrowData(), units.length);
    } else if (!fitsBytes(units)) {
        hash =
            XXH3_64bits_withSeed(units.wideData(), units.length * sizeof(char16_t), processSeed());
    } else {
        // Only a mutable string keeps text of byte-sized units two bytes per
        // unit: hash it as its narrow twin would be hashed.
        hash = hashWideAsNarrow(units);
    }
    uint32_t folded = foldHash(hash);
    if (!s->isMutable()) const_cast<__CFString *>(s)->hash.store(folded, std::memory_order_relaxed);
    return folded;
}

bool KeyOnStack::set(const uint8_t *bytes, size_t count) noexcept
{
    if (count > kMaxUnits) return false;
    uint8_t flags = __CFString::kNarrow | (allASCII(bytes, count) ? __CFString::kASCII : 0);
    string_ = new (storage_) __CFString(flags, static_cast<uint32_t>(count), Object::ImmortalTag{});
    auto *tail = storage_ + sizeof(__CFString);
    if (count != 0) std::memcpy(tail, bytes, count);
    tail[count] = 0;
    return true;
}

CFStringRef createStringFromUTF16(const char16_t *units, size_t count) noexcept
{
    bool narrow = true;
    bool ascii  = true;
    for (size_t i = 0; i < count && narrow; ++i) {
        if (units[i] >= 0x100) narrow = false;
        if (units[i] >= 0x80) ascii = false;
    }
    if (!narrow) return makeWide(units, count);
    if (count > kMaxLength) return nullptr;
    auto *s = newObjectWithTail<__CFString>(
        count + 1, uint8_t(__CFString::kNarrow | (ascii ? __CFString::kASCII : 0)),
        static_cast<uint32_t>(count));
    if (s == nullptr) return nullptr;
    auto *tail = const_cast<uint8_t *>(narrowTail(s));
    for (size_t i = 0; i < count; ++i)
        tail[i] = static_cast<uint8_t>(units[i]);
    tail[count] = 0;
    return s;
}

CFStringRef createStringFromLatin1(const uint8_t *bytes, size_t count) noexcept
{
    return makeNarrow(bytes, count, allASCII(bytes, count));
}

CFStringRef createStringFromUTF8(const char *text, size_t count) noexcept
{
    auto *bytes = reinterpret_cast<const uint8_t *>(text);
    if (allASCII(bytes, count)) return makeNarrow(bytes, count, true);
    return guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        std::vector<char16_t> units;
        units.reserve(count);
        if (!appendUTF16FromUTF8(units, bytes, count)) return nullptr;
        return createStringFromUTF16(units.data(), units.size());
    });
}

void setMutableUnits(CFMutableStringRef s, std::u16string &&units) noexcept
{
    static_cast<MutableString *>(s)->buffer = std::move(units);
}

void checkString(CFTypeRef s, const char *function) noexcept
{
    char message[160];
    if (s == nullptr) {
        std::snprintf(message, sizeof message, "%s called with a NULL string", function);
        fatal(message);
    }
    if (typeOf(s) != kStringTypeID) {
        std::snprintf(message, sizeof message, "%s called with an object that is not a string",
                      function);
        fatal(message);
    }
}

void checkMutableString(CFTypeRef s, const char *function) noexcept
{
    checkString(s, function);
    if (!static_cast<const __CFString *>(s)->isMutable()) {
        char message[160];
        std::snprintf(message, sizeof message, "%s called with an immutable string", function);
        fatal(message);
    }
}

} // namespace vz

CFTypeID CFStringGetTypeID(void) noexcept
{
    return kStringTypeID;
}

CFStringRef __CFStringMakeConstantString(const char *cStr) noexcept
{
    if (cStr == nullptr) fatal("CFSTR of NULL");
    static auto *table = new std::unordered_map<std::string, CFStringRef>;
    return guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        std::lock_guard<std::mutex> lock(constantsMutex());
        std::string                 key(cStr);
        auto                        found = table->find(key);
        if (found != table->end()) return found->second;
        AllocationFailureExemption exempt; // a constant cannot report a failure
        CFStringRef                s = createStringFromUTF8(key.data(), key.size());
        if (s == nullptr)
            s = createStringFromLatin1(reinterpret_cast<const uint8_t *>(key.data()), key.size());
        if (s == nullptr) fatal("out of memory making a constant string");
        asObject(s)->makeImmortal();
        table->emplace(std::move(key), s);
        return s;
    });
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars,
                                         CFIndex numChars) noexcept
{
    if (numChars < 0 || (numChars > 0 && chars == nullptr))
        fatal("CFStringCreateWithCharacters: bad characters");
    return createStringFromUTF16(reinterpret_cast<const char16_t *>(chars),
                                 static_cast<size_t>(numChars));
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef, CFStringRef str, CFRange range) noexcept
{
    checkString(str, "CFStringCreateWithSubstring");
    checkRange(str, range, "CFStringCreateWithSubstring");
    StringUnits units = unitsOf(str);
    if (!str->isMutable() && range.location == 0 &&
        static_cast<size_t>(range.length) == units.length) {
        retainObject(str);
        return str;
    }
    if (units.narrow)
        return createStringFromLatin1(units.narrowData() + range.location,
                                      static_cast<size_t>(range.length));
    return createStringFromUTF16(units.wideData() + range.location,
                                 static_cast<size_t>(range.length));
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) noexcept
{
    checkString(theString, "CFStringCreateCopy");
    if (!theString->isMutable()) {
        retainObject(theString);
        return theString;
    }
    const std::u16string &buffer = static_cast<const MutableString *>(theString)->buffer;
    return createStringFromUTF16(buffer.data(), buffer.size());
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) noexcept
{
    return newObject<MutableString>();
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex,
                                             CFStringRef theString) noexcept
{
    checkString(theString, "CFStringCreateMutableCopy");
    MutableString *copy = newObject<MutableString>();
    if (copy == nullptr) return nullptr;
    bool ok = guarded<bool>(false, [&] {
        copy->buffer = toU16String(theString);
        return true;
    });
    if (!ok) {
        releaseObject(copy);
        return nullptr;
    }
    return copy;
}

CFIndex CFStringGetLength(CFStringRef theString) noexcept
{
    checkString(theString, "CFStringGetLength");
    return static_cast<CFIndex>(unitsOf(theString).length);
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) noexcept
{
    checkString(theString, "CFStringGetCharacterAtIndex");
    checkRange(theString, CFRangeMake(idx, 1), "CFStringGetCharacterAtIndex");
    return unitsOf(theString).at(static_cast<size_t>(idx));
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer) noexcept
{
    checkString(theString, "CFStringGetCharacters");
    checkRange(theString, range, "CFStringGetCharacters");
    copyUnits(theString, static_cast<size_t>(range.location), static_cast<size_t>(range.length),
              reinterpret_cast<char16_t *>(buffer));
}

const UniChar *CFStringGetCharactersPtr(CFStringRef theString) noexcept
{
    checkString(theString, "CFStringGetCharactersPtr");
    StringUnits units = unitsOf(theString);
    if (units.narrow) return nullptr;
    return reinterpret_cast<const UniChar *>(units.wideData());
}

namespace {

bool unitsMatchAt(const StringUnits &haystack, size_t at, const StringUnits &needle)
{
    for (size_t i = 0; i < needle.length; ++i)
        if (haystack.at(at + i) != needle.at(i)) return false;
    return true;
}

} // namespace

// An empty prefix or suffix does not match, as on the platform (they are
// anchored searches, and an empty search finds nothing).
Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) noexcept
{
    checkString(theString, "CFStringHasPrefix");
    checkString(prefix, "CFStringHasPrefix");
    StringUnits s = unitsOf(theString);
    StringUnits p = unitsOf(prefix);
    if (p.length == 0 || p.length > s.length) return false;
    return unitsMatchAt(s, 0, p);
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) noexcept
{
    checkString(theString, "CFStringHasSuffix");
    checkString(suffix, "CFStringHasSuffix");
    StringUnits s = unitsOf(theString);
    StringUnits p = unitsOf(suffix);
    if (p.length == 0 || p.length > s.length) return false;
    return unitsMatchAt(s, s.length - p.length, p);
}

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) noexcept
{
    MutableString *s = asMutable(theString, "CFStringAppend");
    checkString(appendedString, "CFStringAppend");
    guardedVoid([&] {
        if (appendedString == theString) {
            s->buffer += std::u16string(s->buffer);
            return;
        }
        StringUnits units = unitsOf(appendedString);
        size_t      old   = s->buffer.size();
        s->buffer.resize(old + units.length);
        copyUnits(appendedString, 0, units.length, s->buffer.data() + old);
    });
}

void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                              CFIndex numChars) noexcept
{
    MutableString *s = asMutable(theString, "CFStringAppendCharacters");
    if (numChars < 0 || (numChars > 0 && chars == nullptr))
        fatal("CFStringAppendCharacters: bad characters");
    guardedVoid([&] {
        s->buffer.append(reinterpret_cast<const char16_t *>(chars), static_cast<size_t>(numChars));
    });
}

void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr) noexcept
{
    MutableString *s = asMutable(str, "CFStringInsert");
    checkString(insertedStr, "CFStringInsert");
    if (idx < 0 || static_cast<size_t>(idx) > s->buffer.size())
        fatal("CFStringInsert: index out of bounds");
    guardedVoid([&] { s->buffer.insert(static_cast<size_t>(idx), toU16String(insertedStr)); });
}

void CFStringDelete(CFMutableStringRef theString, CFRange range) noexcept
{
    MutableString *s = asMutable(theString, "CFStringDelete");
    checkRange(theString, range, "CFStringDelete");
    s->buffer.erase(static_cast<size_t>(range.location), static_cast<size_t>(range.length));
}

void CFStringReplace(CFMutableStringRef theString, CFRange range, CFStringRef replacement) noexcept
{
    MutableString *s = asMutable(theString, "CFStringReplace");
    checkRange(theString, range, "CFStringReplace");
    checkString(replacement, "CFStringReplace");
    guardedVoid([&] {
        s->buffer.replace(static_cast<size_t>(range.location), static_cast<size_t>(range.length),
                          toU16String(replacement));
    });
}

void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement) noexcept
{
    MutableString *s = asMutable(theString, "CFStringReplaceAll");
    checkString(replacement, "CFStringReplaceAll");
    guardedVoid([&] { s->buffer = toU16String(replacement); });
}

void CFShowStr(CFStringRef str) noexcept
{
    if (str == nullptr) {
        std::fputs("(null)\n", stderr);
        return;
    }
    checkString(str, "CFShowStr");
    guardedVoid([&] {
        std::string text = toUTF8String(str);
        std::fprintf(stderr, "%s\n", text.c_str());
    });
}
