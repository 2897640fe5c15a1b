// StringFormat.cpp: strings made from a printf-style format.
//
// The conversions are those of printf (d i u o x X c s p f F e E g G a A %)
// with flags, width, precision (numbers or *), length modifiers (hh h l ll q
// j z t L) and positional arguments (%2$d, *3$), plus %@ for an object (its
// description; the text itself for a string; "(null)" for NULL), %S for a
// zero-terminated UTF-16 string and %C for one UTF-16 unit. %s takes UTF-8
// (the system encoding); a byte that is not part of well-formed UTF-8 becomes
// U+FFFD rather than failing the whole format.
//
// Formatting runs in three passes: parse the format into pieces, fetch every
// argument from the list in order with the type the format gives it, then
// render. Fetching in a separate pass is what makes positional arguments
// possible, and it means an argument list is read exactly once and with the
// right types. A format that cannot be read safely (a positional argument
// whose type no conversion gives, an absurd width) produces no string at all.
// %n is accepted and its pointer consumed, but nothing is ever written through
// it: a format string must not be able to write to memory.
//
// Numeric conversions are rendered by snprintf one at a time, in the "C"
// conventions (the decimal point is '.' unless the program changed the C
// locale, which nothing in this system does).
#include "Unicode.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <vector>

namespace {

enum class ArgKind : uint8_t {
    None,
    Int,
    Long,
    LongLong,
    IntMax,
    Size,
    PtrDiff,
    Double,
    LongDouble,
    Pointer
};

enum class Length : uint8_t { None, hh, h, l, ll, j, z, t, L };

union ArgValue {
    long long   i;
    intmax_t    im;
    double      d;
    long double ld;
    const void *p;
};

constexpr int    kMaxWidth     = 1 << 20; // wider fields are taken for a broken format
constexpr size_t kMaxArguments = 1024;

struct Piece {
    // A literal run of the format (conversion == 0), or one conversion.
    size_t textStart = 0, textEnd = 0;
    char   conversion = 0;
    Length length     = Length::None;
    bool   leftAlign = false, plus = false, space = false, zero = false, alternate = false;
    int    width = -1, precision = -1; // -1: not given
    int    widthArg = -1, precisionArg = -1, valueArg = -1;
};

class FormatParser {
  public:
    FormatParser(const vz::StringUnits &units) : units_(units) {}

    // False for a format that cannot be read safely.
    bool parse(std::vector<Piece> &pieces, std::vector<ArgKind> &kinds)
    {
        size_t i = 0, literalStart = 0;
        while (i < units_.length) {
            if (units_.at(i) != '%') {
                ++i;
                continue;
            }
            if (i > literalStart) pieces.push_back(literal(literalStart, i));
            Piece piece;
            piece.textStart = i;
            if (!parseConversion(i, piece, kinds)) return false;
            pieces.push_back(piece);
            literalStart = i;
        }
        if (i > literalStart) pieces.push_back(literal(literalStart, i));
        for (ArgKind kind : kinds)
            if (kind == ArgKind::None) return false; // a positional gap: its type is unknown
        return true;
    }

  private:
    static Piece literal(size_t start, size_t end)
    {
        Piece piece;
        piece.textStart = start;
        piece.textEnd   = end;
        return piece;
    }

    bool isDigit(size_t i) const
    {
        return i < units_.length && units_.at(i) >= '0' && units_.at(i) <= '9';
    }

    // Reads decimal digits at i; false when the number is absurdly large.
    bool number(size_t &i, int &value) const
    {
        value = 0;
        while (isDigit(i)) {
            value = value * 10 + (units_.at(i++) - '0');
            if (value > kMaxWidth) return false;
        }
        return true;
    }

    // An explicit "n$" at i, as a zero-based argument index; -1 when absent.
    bool position(size_t &i, int &index) const
    {
        index    = -1;
        size_t k = i;
        int    n = 0;
        if (!isDigit(k) || units_.at(k) == '0') return true;
        if (!number(k, n)) return false;
        if (k >= units_.length || units_.at(k) != '$') return true;
        if (static_cast<size_t>(n) > kMaxArguments) return false;
        index = n - 1;
        i     = k + 1;
        return true;
    }

    bool claim(std::vector<ArgKind> &kinds, int explicitIndex, ArgKind kind, int &index)
    {
        index = explicitIndex >= 0 ? explicitIndex : next_++;
        if (static_cast<size_t>(index) >= kMaxArguments) return false;
        if (kinds.size() <= static_cast<size_t>(index)) kinds.resize(index + 1, ArgKind::None);
        kinds[index] = kind;
        return true;
    }

    bool starOrNumber(size_t &i, int &value, int &argIndex, std::vector<ArgKind> &kinds)
    {
        if (i < units_.length && units_.at(i) == '*') {
            ++i;
            int explicitIndex = -1;
            if (!position(i, explicitIndex)) return false;
            return claim(kinds, explicitIndex, ArgKind::Int, argIndex);
        }
        if (!isDigit(i)) return true;
        return number(i, value);
    }

    bool parseConversion(size_t &i, Piece &piece, std::vector<ArgKind> &kinds)
    {
        ++i; // the '%'
        int valuePosition = -1;
        if (!position(i, valuePosition)) return false;
        for (; i < units_.length; ++i) {
            char16_t flag = units_.at(i);
            if (flag == '-')
                piece.leftAlign = true;
            else if (flag == '+')
                piece.plus = true;
            else if (flag == ' ')
                piece.space = true;
            else if (flag == '0')
                piece.zero = true;
            else if (flag == '#')
                piece.alternate = true;
            else if (flag != '\'')
                break; // grouping is accepted and ignored
        }
        if (!starOrNumber(i, piece.width, piece.widthArg, kinds)) return false;
        if (i < units_.length && units_.at(i) == '.') {
            ++i;
            piece.precision = 0;
            if (!starOrNumber(i, piece.precision, piece.precisionArg, kinds)) return false;
        }
        piece.length        = readLength(i);
        char16_t conversion = i < units_.length ? units_.at(i++) : 0;
        piece.textEnd       = i;
        ArgKind kind        = ArgKind::None;
        switch (conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            kind = integerKind(piece.length);
            break;
        case 'c':
        case 'C':
            kind = ArgKind::Int;
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            kind = piece.length == Length::L ? ArgKind::LongDouble : ArgKind::Double;
            break;
        case 's':
        case 'S':
        case 'p':
        case 'n':
        case '@':
            kind = ArgKind::Pointer;
            break;
        case '%':
            break;
        default:
            // Not a conversion: the text is copied as it stands.
            piece.conversion = 0;
            return true;
        }
        piece.conversion = static_cast<char>(conversion);
        if (kind == ArgKind::None) return true;
        return claim(kinds, valuePosition, kind, piece.valueArg);
    }

    Length readLength(size_t &i) const
    {
        if (i >= units_.length) return Length::None;
        char16_t c    = units_.at(i);
        char16_t next = i + 1 < units_.length ? units_.at(i + 1) : 0;
        switch (c) {
        case 'h':
            i += next == 'h' ? 2 : 1;
            return next == 'h' ? Length::hh : Length::h;
        case 'l':
            i += next == 'l' ? 2 : 1;
            return next == 'l' ? Length::ll : Length::l;
        case 'q':
            ++i;
            return Length::ll;
        case 'j':
            ++i;
            return Length::j;
        case 'z':
            ++i;
            return Length::z;
        case 't':
            ++i;
            return Length::t;
        case 'L':
            ++i;
            return Length::L;
        default:
            return Length::None;
        }
    }

    static ArgKind integerKind(Length length)
    {
        switch (length) {
        case Length::l:
            return ArgKind::Long;
        case Length::ll:
            return ArgKind::LongLong;
        case Length::j:
            return ArgKind::IntMax;
        case Length::z:
            return ArgKind::Size;
        case Length::t:
            return ArgKind::PtrDiff;
        default:
            return ArgKind::Int;
        }
    }

    const vz::StringUnits &units_;
    int                    next_ = 0;
};

void fetchArguments(const std::vector<ArgKind> &kinds, va_list arguments,
                    std::vector<ArgValue> &values)
{
    values.resize(kinds.size());
    for (size_t k = 0; k < kinds.size(); ++k) {
        ArgValue &value = values[k];
        switch (kinds[k]) {
        case ArgKind::Int:
            value.i = va_arg(arguments, int);
            break;
        case ArgKind::Long:
            value.i = va_arg(arguments, long);
            break;
        case ArgKind::LongLong:
            value.i = va_arg(arguments, long long);
            break;
        case ArgKind::IntMax:
            value.im = va_arg(arguments, intmax_t);
            break;
        case ArgKind::Size:
            value.i = va_arg(arguments, ssize_t);
            break;
        case ArgKind::PtrDiff:
            value.i = va_arg(arguments, ptrdiff_t);
            break;
        case ArgKind::Double:
            value.d = va_arg(arguments, double);
            break;
        case ArgKind::LongDouble:
            value.ld = va_arg(arguments, long double);
            break;
        case ArgKind::Pointer:
            value.p = va_arg(arguments, const void *);
            break;
        case ArgKind::None:
            break;
        }
    }
}

void appendASCII(std::u16string &out, const char *text, size_t length)
{
    out.append(text, text + length);
}

// Appends UTF-8 bytes; each maximal ill-formed part of a sequence becomes
// one U+FFFD.
void appendUTF8(std::u16string &out, const unsigned char *bytes, size_t length)
{
    for (size_t i = 0; i < length;) {
        int32_t c = vz::nextUTF8(bytes, i, length);
        vz::appendUTF16(out, c < 0 ? char32_t{0xFFFD} : static_cast<char32_t>(c));
    }
}

// Pads text to width with spaces, on the left unless leftAlign.
void appendPadded(std::u16string &out, const std::u16string &text, int width, bool leftAlign)
{
    size_t pad = width > 0 && static_cast<size_t>(width) > text.size() ? width - text.size() : 0;
    if (!leftAlign) out.append(pad, u' ');
    out.append(text);
    if (leftAlign) out.append(pad, u' ');
}

// Cuts text to at most limit units without splitting a surrogate pair.
void truncateUnits(std::u16string &text, int limit)
{
    if (limit < 0 || text.size() <= static_cast<size_t>(limit)) return;
    size_t keep = static_cast<size_t>(limit);
    if (keep > 0 && vz::isHighSurrogate(text[keep - 1]) && vz::isLowSurrogate(text[keep])) --keep;
    text.resize(keep);
}

class Renderer {
  public:
    Renderer(const vz::StringUnits &format, const std::vector<ArgValue> &values,
             std::u16string &out)
        : format_(format), values_(values), out_(out)
    {
    }

    bool render(Piece piece)
    {
        if (piece.conversion == 0) {
            for (size_t k = piece.textStart; k < piece.textEnd; ++k)
                out_.push_back(format_.at(k));
            return true;
        }
        if (piece.widthArg >= 0) {
            long long width = values_[piece.widthArg].i;
            if (width < 0) {
                piece.leftAlign = true;
                width           = -width;
            }
            if (width > kMaxWidth) return false;
            piece.width = static_cast<int>(width);
        }
        if (piece.precisionArg >= 0) {
            long long precision = values_[piece.precisionArg].i;
            if (precision > kMaxWidth) return false;
            piece.precision = precision < 0 ? -1 : static_cast<int>(precision);
        }
        const ArgValue *value = piece.valueArg >= 0 ? &values_[piece.valueArg] : nullptr;
        switch (piece.conversion) {
        case '%':
            out_.push_back(u'%');
            return true;
        case 'n':
            return true;
        case '@':
            return renderObject(piece, value->p);
        case 's':
            return renderUTF8(piece, static_cast<const unsigned char *>(value->p));
        case 'S':
            return renderUTF16(piece, static_cast<const UniChar *>(value->p));
        case 'c':
        case 'C':
            return renderCharacter(piece, value->i);
        case 'p':
            return renderPointer(piece, value->p);
        default:
            return renderNumber(piece, *value);
        }
    }

  private:
    bool renderObject(const Piece &piece, const void *object)
    {
        std::u16string text;
        if (object == nullptr) {
            text = u"(null)";
        } else if (vz::typeOf(object) == vz::kStringTypeID) {
            text = vz::toU16String(static_cast<CFStringRef>(object));
        } else {
            vz::CFRef<CFStringRef> description(CFCopyDescription(object));
            if (!description) return false;
            text = vz::toU16String(description.get());
        }
        truncateUnits(text, piece.precision);
        appendPadded(out_, text, piece.width, piece.leftAlign);
        return true;
    }

    bool renderUTF8(const Piece &piece, const unsigned char *bytes)
    {
        std::u16string text;
        if (bytes == nullptr) {
            text = u"(null)";
        } else {
            // The precision counts bytes, as printf's does, but a character
            // that the limit would cut is left out whole.
            size_t limit  = piece.precision < 0 ? SIZE_MAX : static_cast<size_t>(piece.precision);
            size_t length = 0;
            while (length < limit && bytes[length] != 0)
                ++length;
            if (bytes[length] != 0 && (bytes[length] & 0xC0) == 0x80) {
                while (length > 0 && (bytes[length] & 0xC0) == 0x80)
                    --length;
            }
            appendUTF8(text, bytes, length);
        }
        appendPadded(out_, text, piece.width, piece.leftAlign);
        return true;
    }

    bool renderUTF16(const Piece &piece, const UniChar *units)
    {
        std::u16string text;
        if (units == nullptr) {
            text = u"(null)";
        } else {
            size_t limit = piece.precision < 0 ? SIZE_MAX : static_cast<size_t>(piece.precision);
            size_t k     = 0;
            for (; k < limit && units[k] != 0; ++k)
                text.push_back(units[k]);
            // Never keep half of a surrogate pair that the limit cut.
            if (k > 0 && k == limit && vz::isHighSurrogate(units[k - 1]) &&
                vz::isLowSurrogate(units[k]))
                text.pop_back();
        }
        appendPadded(out_, text, piece.width, piece.leftAlign);
        return true;
    }

    bool renderCharacter(const Piece &piece, long long value)
    {
        std::u16string text;
        if (piece.conversion == 'C') {
            text.push_back(static_cast<char16_t>(value));
        } else if (piece.length == Length::l) {
            // A wide character may lie outside the BMP.
            char32_t c = static_cast<char32_t>(value);
            vz::appendUTF16(text, c > 0x10FFFF ? char32_t{0xFFFD} : c);
        } else {
            // A single byte: ASCII, or read as Latin 1 since no single byte
            // above 0x7F is UTF-8.
            text.push_back(static_cast<unsigned char>(value));
        }
        appendPadded(out_, text, piece.width, piece.leftAlign);
        return true;
    }

    bool renderPointer(const Piece &piece, const void *pointer)
    {
        char text[32];
        int  n =
            std::snprintf(text, sizeof text, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(pointer));
        std::u16string units(text, text + n);
        appendPadded(out_, units, piece.width, piece.leftAlign);
        return true;
    }

    bool renderNumber(const Piece &piece, const ArgValue &value)
    {
        char directive[32];
        int  at         = 0;
        directive[at++] = '%';
        if (piece.leftAlign) directive[at++] = '-';
        if (piece.plus) directive[at++] = '+';
        if (piece.space) directive[at++] = ' ';
        if (piece.zero) directive[at++] = '0';
        if (piece.alternate) directive[at++] = '#';
        if (piece.width >= 0)
            at += std::snprintf(directive + at, sizeof directive - at, "%d", piece.width);
        if (piece.precision >= 0)
            at += std::snprintf(directive + at, sizeof directive - at, ".%d", piece.precision);
        const char *modifier = "";
        switch (piece.length) {
        case Length::hh:
            modifier = "hh";
            break;
        case Length::h:
            modifier = "h";
            break;
        case Length::l:
            modifier = "l";
            break;
        case Length::ll:
            modifier = "ll";
            break;
        case Length::j:
            modifier = "j";
            break;
        case Length::z:
            modifier = "z";
            break;
        case Length::t:
            modifier = "t";
            break;
        case Length::L:
            modifier = "L";
            break;
        case Length::None:
            break;
        }
        at += std::snprintf(directive + at, sizeof directive - at, "%s%c", modifier,
                            piece.conversion);

        char        small[128];
        std::string large;
        int         n = print(small, sizeof small, directive, piece, value);
        if (n < 0) return false;
        const char *text = small;
        if (static_cast<size_t>(n) >= sizeof small) {
            large.resize(static_cast<size_t>(n) + 1);
            print(large.data(), large.size(), directive, piece, value);
            text = large.data();
        }
        appendASCII(out_, text, static_cast<size_t>(n));
        return true;
    }

    static int print(char *buffer, size_t size, const char *directive, const Piece &piece,
                     const ArgValue &value)
    {
        bool isSigned = piece.conversion == 'd' || piece.conversion == 'i';
        switch (piece.conversion) {
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (piece.length == Length::L) return std::snprintf(buffer, size, directive, value.ld);
            return std::snprintf(buffer, size, directive, value.d);
        default:
            break;
        }
        switch (piece.length) {
        case Length::l:
            return isSigned ? std::snprintf(buffer, size, directive, static_cast<long>(value.i))
                            : std::snprintf(buffer, size, directive,
                                            static_cast<unsigned long>(value.i));
        case Length::ll:
            return isSigned
                       ? std::snprintf(buffer, size, directive, static_cast<long long>(value.i))
                       : std::snprintf(buffer, size, directive,
                                       static_cast<unsigned long long>(value.i));
        case Length::j:
            return isSigned
                       ? std::snprintf(buffer, size, directive, value.im)
                       : std::snprintf(buffer, size, directive, static_cast<uintmax_t>(value.im));
        case Length::z:
            return isSigned ? std::snprintf(buffer, size, directive, static_cast<ssize_t>(value.i))
                            : std::snprintf(buffer, size, directive, static_cast<size_t>(value.i));
        case Length::t:
            return isSigned
                       ? std::snprintf(buffer, size, directive, static_cast<ptrdiff_t>(value.i))
                       : std::snprintf(buffer, size, directive,
                                       static_cast<std::make_unsigned_t<ptrdiff_t>>(value.i));
        default:
            return isSigned
                       ? std::snprintf(buffer, size, directive, static_cast<int>(value.i))
                       : std::snprintf(buffer, size, directive, static_cast<unsigned>(value.i));
        }
    }

    const vz::StringUnits       &format_;
    const std::vector<ArgValue> &values_;
    std::u16string              &out_;
};

// Formats into out; false for a format that cannot be read safely or when a
// description cannot be made.
bool formatInto(CFStringRef format, va_list arguments, std::u16string &out)
{
    vz::StringUnits       units = vz::unitsOf(format);
    std::vector<Piece>    pieces;
    std::vector<ArgKind>  kinds;
    std::vector<ArgValue> values;
    if (!FormatParser(units).parse(pieces, kinds)) return false;
    fetchArguments(kinds, arguments, values);
    Renderer renderer(units, values, out);
    for (const Piece &piece : pieces)
        if (!renderer.render(piece)) return false;
    return true;
}

// The model builds every store path from literal text and %@ of strings
// ("%@/%@/%@/%@"); such a format is joined directly, without the general
// machinery's allocations. Returns false, having read no argument, for any
// other format or when an argument is not a string (a description, "(null)"
// for NULL); *result is then untouched. Otherwise *result is the new string,
// or NULL when it cannot be made.
constexpr size_t kMostJoinedStrings = 8;

bool joinStrings(CFStringRef format, va_list arguments, CFStringRef *result)
{
    vz::StringUnits units = vz::unitsOf(format);
    if (!units.narrow) return false;
    const uint8_t *text  = units.narrowData();
    size_t         count = 0;
    for (size_t i = 0; i < units.length; ++i) {
        if (text[i] != '%') continue;
        if (i + 1 == units.length || (text[i + 1] != '@' && text[i + 1] != '%')) return false;
        if (text[i + 1] == '@' && ++count > kMostJoinedStrings) return false;
        ++i;
    }
    CFStringRef strings[kMostJoinedStrings];
    va_list     copy;
    va_copy(copy, arguments);
    for (size_t k = 0; k < count; ++k)
        strings[k] = static_cast<CFStringRef>(va_arg(copy, CFTypeRef));
    va_end(copy);
    bool narrow = true;
    for (size_t k = 0; k < count; ++k) {
        if (strings[k] == nullptr || vz::typeOf(strings[k]) != vz::kStringTypeID) return false;
        narrow = narrow && vz::unitsOf(strings[k]).narrow;
    }
    *result = vz::guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        // One byte per unit while every part is narrow; a path of the
        // preferences store ("/Sets/ID/Network/Service/ID") fits the buffer
        // on the stack, and the only allocation is the string's own.
        constexpr size_t           kOnStack = 256;
        uint8_t                    onStack[kOnStack];
        size_t                     used = 0;
        std::basic_string<uint8_t> bytes;
        std::u16string             wide;
        auto append = [&](const vz::StringUnits &part, size_t start, size_t length) {
            if (narrow) {
                if (bytes.empty() && used + length <= kOnStack) {
                    if (length != 0) std::memcpy(onStack + used, part.narrowData() + start, length);
                    used += length;
                    return;
                }
                if (bytes.empty()) bytes.assign(onStack, used);
                bytes.append(part.narrowData() + start, length);
                return;
            }
            for (size_t i = start; i < start + length; ++i)
                wide.push_back(part.at(i));
        };
        size_t next = 0, literalStart = 0;
        for (size_t i = 0; i < units.length; ++i) {
            if (text[i] != '%') continue;
            append(units, literalStart, i - literalStart);
            if (text[i + 1] == '%') {
                append(units, i + 1, 1);
            } else {
                vz::StringUnits part = vz::unitsOf(strings[next++]);
                append(part, 0, part.length);
            }
            literalStart = ++i + 1;
        }
        append(units, literalStart, units.length - literalStart);
        if (narrow && bytes.empty()) return vz::createStringFromLatin1(onStack, used);
        return narrow ? vz::createStringFromLatin1(bytes.data(), bytes.size())
                      : vz::createStringFromUTF16(wide.data(), wide.size());
    });
    return true;
}

} // namespace

using namespace vz; // the C entry points below are thin skins over the helpers above

CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef, CFDictionaryRef,
                                                 CFStringRef format, va_list arguments) noexcept
{
    checkString(format, "CFStringCreateWithFormatAndArguments");
    CFStringRef joined = nullptr;
    if (joinStrings(format, arguments, &joined)) return joined;
    va_list copy;
    va_copy(copy, arguments);
    CFStringRef result = guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        std::u16string text;
        if (!formatInto(format, copy, text)) return nullptr;
        return createStringFromUTF16(text.data(), text.size());
    });
    va_end(copy);
    return result;
}

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    CFStringRef result =
        CFStringCreateWithFormatAndArguments(alloc, formatOptions, format, arguments);
    va_end(arguments);
    return result;
}

// A format that cannot be read safely appends nothing.
void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef,
                                      CFStringRef format, va_list arguments) noexcept
{
    checkMutableString(theString, "CFStringAppendFormatAndArguments");
    checkString(format, "CFStringAppendFormatAndArguments");
    va_list copy;
    va_copy(copy, arguments);
    guardedVoid([&] {
        std::u16string text;
        if (formatInto(format, copy, text)) mutableBuffer(theString).append(text);
    });
    va_end(copy);
}

void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                          CFStringRef format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    CFStringAppendFormatAndArguments(theString, formatOptions, format, arguments);
    va_end(arguments);
}
