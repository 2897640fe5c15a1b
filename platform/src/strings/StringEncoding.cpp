// StringEncoding.cpp: strings to and from bytes in the supported encodings
// (ASCII, UTF-8, UTF-16 in host, big- and little-endian order, Mac OS Roman
// and ISO Latin 1), C strings, external representations, and the reading of
// numbers from strings.
//
// Decoding refuses what the encoding does not allow (a byte above 0x7F in
// ASCII, malformed UTF-8, an odd number of UTF-16 bytes): the Create functions
// return NULL rather than guess. Encoding follows the partial-conversion rule:
// without a loss byte it stops before the first character the encoding cannot
// hold and reports how many units it converted; with one it writes the loss
// byte in that character's place. A character is a code point, so the two
// units of a surrogate pair are converted, counted and replaced together and
// never split by the end of a buffer.
//
// Mac OS Roman goes through a table built once from ICU's converter; the
// other encodings need no table. Plain ASCII text, the common case in stores
// and property lists, is copied byte for byte.
#include "IcuLibrary.h"
#include "Unicode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

enum class EncodingKind { ASCII, UTF8, UTF16Host, UTF16BE, UTF16LE, MacRoman, Latin1, Unsupported };

EncodingKind kindOf(CFStringEncoding encoding) noexcept
{
    switch (encoding) {
    case kCFStringEncodingASCII:
        return EncodingKind::ASCII;
    case kCFStringEncodingUTF8:
        return EncodingKind::UTF8;
    case kCFStringEncodingUTF16:
        return EncodingKind::UTF16Host;
    case kCFStringEncodingUTF16BE:
        return EncodingKind::UTF16BE;
    case kCFStringEncodingUTF16LE:
        return EncodingKind::UTF16LE;
    case kCFStringEncodingMacRoman:
        return EncodingKind::MacRoman;
    case kCFStringEncodingISOLatin1:
        return EncodingKind::Latin1;
    default:
        return EncodingKind::Unsupported;
    }
}

bool isUTF16(EncodingKind kind) noexcept
{
    return kind == EncodingKind::UTF16Host || kind == EncodingKind::UTF16BE ||
           kind == EncodingKind::UTF16LE;
}

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Mac OS Roman: the lower half is ASCII; the upper half maps each byte to one
// BMP character (0xDB is the euro sign, 0xF0 a private-use character).
class MacRomanTable {
  public:
    static const MacRomanTable &instance() noexcept
    {
        static const MacRomanTable table;
        return table;
    }
    bool     available() const noexcept { return available_; }
    char16_t toUnicode(uint8_t byte) const noexcept { return upper_[byte - 0x80]; }
    // False when the character has no byte.
    bool fromUnicode(char32_t c, uint8_t *byte) const noexcept
    {
        if (c < 0x80) {
            *byte = static_cast<uint8_t>(c);
            return true;
        }
        auto it = std::lower_bound(reverse_.begin(), reverse_.end(), c,
                                   [](const Entry &e, char32_t key) { return e.unit < key; });
        if (it == reverse_.end() || it->unit != c) return false;
        *byte = it->byte;
        return true;
    }

  private:
    struct Entry {
        char16_t unit;
        uint8_t  byte;
    };
    MacRomanTable() noexcept
    {
        const vz::IcuLibrary &icu       = vz::icuLibrary();
        UErrorCode            status    = U_ZERO_ERROR;
        UConverter           *converter = icu.ucnvOpen("macintosh", &status);
        if (U_FAILURE(status)) return;
        bool complete = true;
        for (int byte = 0x80; byte < 0x100; ++byte) {
            char  in = static_cast<char>(byte);
            UChar out[4];
            status                = U_ZERO_ERROR;
            int32_t n             = icu.ucnvToUChars(converter, out, 4, &in, 1, &status);
            complete              = complete && U_SUCCESS(status) && n == 1;
            upper_[byte - 0x80]   = out[0];
            reverse_[byte - 0x80] = {out[0], static_cast<uint8_t>(byte)};
        }
        icu.ucnvClose(converter);
        std::sort(reverse_.begin(), reverse_.end(),
                  [](const Entry &a, const Entry &b) { return a.unit < b.unit; });
        available_ = complete;
    }
    std::array<char16_t, 128> upper_{};
    std::array<Entry, 128>    reverse_{};
    bool                      available_ = false;
};

bool isAvailable(EncodingKind kind) noexcept
{
    if (kind == EncodingKind::Unsupported) return false;
    if (kind == EncodingKind::MacRoman) return MacRomanTable::instance().available();
    return true;
}

// ---- Decoding ------------------------------------------------------------

CFStringRef createFromUTF16Bytes(const UInt8 *bytes, size_t count, EncodingKind kind, bool external)
{
    if (count % 2 != 0) return nullptr;
    bool bigEndian =
        kind == EncodingKind::UTF16BE || (kind == EncodingKind::UTF16Host && kHostIsBigEndian);
    if (external && count >= 2) {
        bool markBE = bytes[0] == 0xFE && bytes[1] == 0xFF;
        bool markLE = bytes[0] == 0xFF && bytes[1] == 0xFE;
        // A byte-order mark decides the order of host-order text; in text of a
        // stated order it is dropped only when it agrees with that order.
        if (kind == EncodingKind::UTF16Host && (markBE || markLE)) bigEndian = markBE;
        if ((markBE && bigEndian) || (markLE && !bigEndian)) {
            bytes += 2;
            count -= 2;
        }
    }
    std::u16string units(count / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        uint8_t first = bytes[2 * i], second = bytes[2 * i + 1];
        units[i] = bigEndian ? static_cast<char16_t>(first << 8 | second)
                             : static_cast<char16_t>(second << 8 | first);
    }
    return vz::createStringFromUTF16(units.data(), units.size());
}

CFStringRef createFromBytes(const UInt8 *bytes, size_t count, EncodingKind kind, bool external)
{
    switch (kind) {
    case EncodingKind::ASCII:
        for (size_t i = 0; i < count; ++i)
            if (bytes[i] >= 0x80) return nullptr;
        return vz::createStringFromLatin1(bytes, count);
    case EncodingKind::Latin1:
        return vz::createStringFromLatin1(bytes, count);
    case EncodingKind::UTF8:
        if (external && count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            bytes += 3;
            count -= 3;
        }
        return vz::createStringFromUTF8(reinterpret_cast<const char *>(bytes), count);
    case EncodingKind::MacRoman: {
        const MacRomanTable &table = MacRomanTable::instance();
        if (!table.available()) return nullptr;
        size_t firstHigh = 0;
        while (firstHigh < count && bytes[firstHigh] < 0x80)
            ++firstHigh;
        if (firstHigh == count) return vz::createStringFromLatin1(bytes, count);
        std::u16string units(bytes, bytes + firstHigh);
        units.reserve(count);
        for (size_t i = firstHigh; i < count; ++i)
            units.push_back(bytes[i] < 0x80 ? bytes[i] : table.toUnicode(bytes[i]));
        return vz::createStringFromUTF16(units.data(), units.size());
    }
    case EncodingKind::UTF16Host:
    case EncodingKind::UTF16BE:
    case EncodingKind::UTF16LE:
        return createFromUTF16Bytes(bytes, count, kind, external);
    case EncodingKind::Unsupported:
        break;
    }
    return nullptr;
}

// ---- Encoding ------------------------------------------------------------

struct Conversion {
    size_t units = 0; // source units converted
    size_t bytes = 0; // bytes written, or needed when measuring
};

// Converts units [start, end) of a string. buffer NULL measures without a
// limit; otherwise at most capacity bytes are written.
template <typename Unit>
Conversion encode(const Unit *source, size_t start, size_t end, EncodingKind kind, UInt8 lossByte,
                  bool external, UInt8 *buffer, size_t capacity)
{
    Conversion done;
    if (isUTF16(kind) && external && kind == EncodingKind::UTF16Host) {
        if (buffer != nullptr && capacity < 2) return done;
        if (buffer != nullptr) {
            buffer[0] = kHostIsBigEndian ? 0xFE : 0xFF;
            buffer[1] = kHostIsBigEndian ? 0xFF : 0xFE;
        }
        done.bytes = 2;
    }
    // ASCII text in an ASCII-compatible encoding is copied as it is.
    if (!isUTF16(kind)) {
        size_t run   = start;
        size_t limit = buffer == nullptr ? end : std::min(end, start + (capacity - done.bytes));
        while (run < limit && source[run] < 0x80)
            ++run;
        if (buffer != nullptr)
            for (size_t i = start; i < run; ++i)
                buffer[done.bytes + i - start] = static_cast<UInt8>(source[i]);
        done.bytes += run - start;
        done.units = run - start;
        start      = run;
    }
    const MacRomanTable *macRoman =
        kind == EncodingKind::MacRoman ? &MacRomanTable::instance() : nullptr;
    bool bigEndian =
        kind == EncodingKind::UTF16BE || (kind == EncodingKind::UTF16Host && kHostIsBigEndian);

    size_t i = start;
    while (i < end) {
        char32_t c     = source[i];
        size_t   width = 1;
        if (sizeof(Unit) == 2 && vz::isHighSurrogate(static_cast<char16_t>(c)) && i + 1 < end &&
            vz::isLowSurrogate(static_cast<char16_t>(source[i + 1]))) {
            c     = vz::combineSurrogates(static_cast<char16_t>(c),
                                          static_cast<char16_t>(source[i + 1]));
            width = 2;
        }
        UInt8  out[4];
        size_t n    = 0;
        bool   fits = true;
        switch (kind) {
        case EncodingKind::ASCII:
            fits   = c < 0x80;
            out[0] = static_cast<UInt8>(c);
            n      = 1;
            break;
        case EncodingKind::Latin1:
            fits   = c < 0x100;
            out[0] = static_cast<UInt8>(c);
            n      = 1;
            break;
        case EncodingKind::MacRoman:
            fits = macRoman->fromUnicode(c, &out[0]);
            n    = 1;
            break;
        case EncodingKind::UTF8:
            if (vz::isSurrogate(c)) {
                fits = false; // an unpaired surrogate has no UTF-8 form
            } else {
                n = vz::encodeUTF8(c, reinterpret_cast<char *>(out));
            }
            break;
        case EncodingKind::UTF16Host:
        case EncodingKind::UTF16BE:
        case EncodingKind::UTF16LE:
            for (size_t k = 0; k < width; ++k) {
                char16_t unit  = static_cast<char16_t>(source[i + k]);
                out[2 * k]     = static_cast<UInt8>(bigEndian ? unit >> 8 : unit & 0xFF);
                out[2 * k + 1] = static_cast<UInt8>(bigEndian ? unit & 0xFF : unit >> 8);
            }
            n = 2 * width;
            break;
        case EncodingKind::Unsupported:
            return done;
        }
        if (!fits) {
            if (lossByte == 0) break;
            out[0] = lossByte;
            n      = 1;
        }
        if (buffer != nullptr) {
            if (capacity - done.bytes < n) break;
            std::memcpy(buffer + done.bytes, out, n);
        }
        done.bytes += n;
        done.units += width;
        i += width;
    }
    return done;
}

Conversion encodeString(CFStringRef string, size_t start, size_t length, EncodingKind kind,
                        UInt8 lossByte, bool external, UInt8 *buffer, size_t capacity)
{
    vz::StringUnits units = vz::unitsOf(string);
    if (units.narrow)
        return encode(units.narrowData(), start, start + length, kind, lossByte, external, buffer,
                      capacity);
    return encode(units.wideData(), start, start + length, kind, lossByte, external, buffer,
                  capacity);
}

// ---- Numbers -------------------------------------------------------------

bool isSpace(char16_t unit) noexcept
{
    return unit == ' ' || (unit >= '\t' && unit <= '\r') ||
           (unit >= 0x80 && vz::icuLibrary().isUWhiteSpace(unit));
}

} // namespace

using namespace vz; // the C entry points below are thin skins over the helpers above

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding,
                                    Boolean          isExternalRepresentation) noexcept
{
    if (numBytes < 0) fatal("CFStringCreateWithBytes called with a negative byte count");
    if (numBytes > 0) checkPointer(bytes, "CFStringCreateWithBytes");
    EncodingKind kind = kindOf(encoding);
    if (!isAvailable(kind)) return nullptr;
    static const UInt8 kNoBytes = 0;
    return guarded<CFStringRef>(nullptr, [&] {
        return createFromBytes(numBytes == 0 ? &kNoBytes : bytes, static_cast<size_t>(numBytes),
                               kind, isExternalRepresentation);
    });
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                      CFStringEncoding encoding) noexcept
{
    checkPointer(cStr, "CFStringCreateWithCString");
    // A C string ends at its first zero byte, which UTF-16 text is full of.
    if (isUTF16(kindOf(encoding))) return nullptr;
    return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8 *>(cStr),
                                   static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateFromExternalRepresentation(CFAllocatorRef alloc, CFDataRef data,
                                                     CFStringEncoding encoding) noexcept
{
    checkPointer(data, "CFStringCreateFromExternalRepresentation");
    return CFStringCreateWithBytes(alloc, CFDataGetBytePtr(data), CFDataGetLength(data), encoding,
                                   true);
}

CFDataRef CFStringCreateExternalRepresentation(CFAllocatorRef alloc, CFStringRef theString,
                                               CFStringEncoding encoding, UInt8 lossByte) noexcept
{
    checkString(theString, "CFStringCreateExternalRepresentation");
    EncodingKind kind = kindOf(encoding);
    if (!isAvailable(kind)) return nullptr;
    size_t     length   = unitsOf(theString).length;
    Conversion measured = encodeString(theString, 0, length, kind, lossByte, true, nullptr, 0);
    if (measured.units != length) return nullptr;
    return guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
        std::vector<UInt8> bytes(measured.bytes);
        encodeString(theString, 0, length, kind, lossByte, true, bytes.data(), bytes.size());
        return CFDataCreate(alloc, bytes.data(), static_cast<CFIndex>(bytes.size()));
    });
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen) noexcept
{
    checkString(theString, "CFStringGetBytes");
    checkRange(range, unitsOf(theString).length, "CFStringGetBytes");
    Conversion   done;
    EncodingKind kind = kindOf(encoding);
    if (isAvailable(kind))
        done = encodeString(theString, static_cast<size_t>(range.location),
                            static_cast<size_t>(range.length), kind, lossByte,
                            isExternalRepresentation, buffer,
                            maxBufLen > 0 ? static_cast<size_t>(maxBufLen) : 0);
    if (usedBufLen != nullptr) *usedBufLen = static_cast<CFIndex>(done.bytes);
    return static_cast<CFIndex>(done.units);
}

Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) noexcept
{
    checkString(theString, "CFStringGetCString");
    checkPointer(buffer, "CFStringGetCString");
    if (bufferSize <= 0) return false;
    EncodingKind kind     = kindOf(encoding);
    StringUnits  units    = unitsOf(theString);
    size_t       capacity = static_cast<size_t>(bufferSize) - 1;
    // A failed conversion leaves an empty C string rather than a fragment that
    // a caller ignoring the result would take for the whole text.
    buffer[0] = '\0';
    if (isUTF16(kind) || !isAvailable(kind)) return false;
    if (units.narrow && theString->isASCII() && !theString->isMutable()) {
        if (units.length > capacity) return false;
        std::memcpy(buffer, units.narrowData(), units.length);
        buffer[units.length] = '\0';
        return true;
    }
    Conversion done = encodeString(theString, 0, units.length, kind, 0, false,
                                   reinterpret_cast<UInt8 *>(buffer), capacity);
    if (done.units != units.length) {
        buffer[0] = '\0';
        return false;
    }
    buffer[done.bytes] = '\0';
    return true;
}

const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) noexcept
{
    checkString(theString, "CFStringGetCStringPtr");
    if (theString->isMutable() || !theString->isNarrow()) return nullptr;
    const char *bytes = static_cast<const char *>(unitsOf(theString).data);
    switch (kindOf(encoding)) {
    case EncodingKind::ASCII:
    case EncodingKind::UTF8:
    case EncodingKind::MacRoman:
        return theString->isASCII() ? bytes : nullptr;
    case EncodingKind::Latin1:
        return bytes; // narrow storage is Latin 1
    default:
        return nullptr;
    }
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept
{
    if (length < 0) return kCFNotFound;
    CFIndex perUnit = 0;
    switch (kindOf(encoding)) {
    case EncodingKind::ASCII:
    case EncodingKind::Latin1:
    case EncodingKind::MacRoman:
        perUnit = 1;
        break;
    case EncodingKind::UTF8:
        perUnit = 3;
        break; // a surrogate pair takes 4 bytes for 2 units
    case EncodingKind::UTF16Host:
    case EncodingKind::UTF16BE:
    case EncodingKind::UTF16LE:
        perUnit = 2;
        break;
    case EncodingKind::Unsupported:
        return 0;
    }
    if (length > LONG_MAX / perUnit) return kCFNotFound;
    return length * perUnit;
}

void CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                           CFStringEncoding encoding) noexcept
{
    checkMutableString(theString, "CFStringAppendCString");
    checkPointer(cStr, "CFStringAppendCString");
    CFRef<CFStringRef> appended(CFStringCreateWithCString(nullptr, cStr, encoding));
    // Bytes that are not text in the encoding append nothing.
    if (appended) CFStringAppend(theString, appended.get());
}

CFStringEncoding CFStringGetSystemEncoding(void) noexcept
{
    return kCFStringEncodingUTF8;
}

Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding) noexcept
{
    return isAvailable(kindOf(encoding));
}

CFStringRef CFStringGetNameOfEncoding(CFStringEncoding encoding) noexcept
{
    switch (kindOf(encoding)) {
    case EncodingKind::ASCII:
        return CFSTR("Western (ASCII)");
    case EncodingKind::UTF8:
        return CFSTR("Unicode (UTF-8)");
    case EncodingKind::UTF16Host:
        return CFSTR("Unicode (UTF-16)");
    case EncodingKind::UTF16BE:
        return CFSTR("Unicode (UTF-16BE)");
    case EncodingKind::UTF16LE:
        return CFSTR("Unicode (UTF-16LE)");
    case EncodingKind::MacRoman:
        return CFSTR("Western (Mac OS Roman)");
    case EncodingKind::Latin1:
        return CFSTR("Western (ISO Latin 1)");
    case EncodingKind::Unsupported:
        break;
    }
    return nullptr;
}

// Leading white space, an optional sign and decimal digits; anything after
// them is ignored. A value beyond 32 bits is clamped to the nearest limit; no
// digits give 0.
SInt32 CFStringGetIntValue(CFStringRef str) noexcept
{
    checkString(str, "CFStringGetIntValue");
    StringUnits units = unitsOf(str);
    size_t      i     = 0;
    while (i < units.length && isSpace(units.at(i)))
        ++i;
    bool negative = false;
    if (i < units.length && (units.at(i) == '-' || units.at(i) == '+'))
        negative = units.at(i++) == '-';
    int64_t value = 0;
    for (; i < units.length && units.at(i) >= '0' && units.at(i) <= '9'; ++i) {
        value = value * 10 + (units.at(i) - '0');
        if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<SInt32>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Leading white space and a decimal number with an optional fraction and
// exponent, read the same way whatever the C library's locale; anything after
// it is ignored. No number gives 0.
double CFStringGetDoubleValue(CFStringRef str) noexcept
{
    checkString(str, "CFStringGetDoubleValue");
    StringUnits units = unitsOf(str);
    size_t      i     = 0;
    while (i < units.length && isSpace(units.at(i)))
        ++i;
    auto isDigit = [&](size_t k) {
        return k < units.length && units.at(k) >= '0' && units.at(k) <= '9';
    };
    bool negative = false;
    if (i < units.length && (units.at(i) == '-' || units.at(i) == '+'))
        negative = units.at(i++) == '-';
    // The decimal exponent of the leading digit tells, when the value is out
    // of range, whether it overflows or underflows.
    size_t  begin = i, mantissaDigits = 0;
    int64_t magnitude   = 0;
    bool    seenNonZero = false, inFraction = false;
    for (;; ++i) {
        if (isDigit(i)) {
            ++mantissaDigits;
            if (!seenNonZero && units.at(i) != '0') seenNonZero = true;
            if (seenNonZero && !inFraction) ++magnitude;
            if (!seenNonZero && inFraction) --magnitude;
        } else if (!inFraction && i < units.length && units.at(i) == '.') {
            inFraction = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return 0.0;
    size_t end = i;
    if (i < units.length && (units.at(i) == 'e' || units.at(i) == 'E')) {
        size_t  k        = i + 1;
        bool    minus    = false;
        int64_t exponent = 0;
        if (k < units.length && (units.at(k) == '-' || units.at(k) == '+'))
            minus = units.at(k++) == '-';
        for (; isDigit(k); ++k)
            exponent = std::min<int64_t>(exponent * 10 + (units.at(k) - '0'), 1 << 30);
        if (k > i + 1 && isDigit(k - 1)) {
            end = k;
            magnitude += minus ? -exponent : exponent;
        }
    }
    return guarded<double>(0.0, [&] {
        std::string text(end - begin, '\0');
        for (size_t k = begin; k < end; ++k)
            text[k - begin] = static_cast<char>(units.at(k));
        double value  = 0.0;
        auto   result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec == std::errc::result_out_of_range) value = magnitude > 0 ? HUGE_VAL : 0.0;
        return negative ? -value : value;
    });
}
