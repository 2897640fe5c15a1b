// Number.cpp: numbers and booleans.
//
// A number keeps its value as a signed 64-bit integer, an unsigned 64-bit
// integer above the signed range, or a double, and the canonical type it was
// made with (SInt8 to SInt64, Float32, Float64) for CFNumberGetType. Numbers
// compare by value across kinds; NaN equals NaN so that a tree holding one
// still compares equal to its copy.
#include "Containers.h"
#include "StringStorage.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

struct __CFNumber : vz::Object {
    vz::NumberValue value;
    __CFNumber(CFNumberType canonical, vz::NumberValue v) noexcept
        : Object(vz::kNumberTypeID, static_cast<uint8_t>(canonical)), value(v)
    {
    }
    CFNumberType type() const noexcept { return static_cast<CFNumberType>(bits); }
};

struct __CFBoolean : vz::Object {
    bool value;
    constexpr explicit __CFBoolean(bool v) noexcept
        : Object(vz::kBooleanTypeID, 0, ImmortalTag{}), value(v)
    {
    }
};

using namespace vz;

namespace {

constinit __CFBoolean gTrue(true);
constinit __CFBoolean gFalse(false);

// Three-way comparison by numeric value.
int compareValues(const NumberValue &a, const NumberValue &b)
{
    auto three = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (a.kind == NumberKind::Real || b.kind == NumberKind::Real) {
        if (a.kind == NumberKind::Real && b.kind == NumberKind::Real) {
            if (std::isnan(a.d) || std::isnan(b.d))
                return std::isnan(a.d) ? (std::isnan(b.d) ? 0 : 1) : -1;
            return three(a.d, b.d);
        }
        // A real against an integer: compare exactly, without rounding the
        // integer to a double.
        bool        flip = a.kind != NumberKind::Real;
        double      d    = flip ? b.d : a.d;
        NumberValue n    = flip ? a : b;
        int         result;
        if (std::isnan(d)) {
            result = 1;
        } else if (d >= 18446744073709551616.0) {
            result = 1;
        } else if (d < -9223372036854775808.0) {
            result = -1;
        } else {
            double whole = std::floor(d);
            int    c;
            if (n.kind == NumberKind::Unsigned) {
                c = whole < 0 ? -1 : three(static_cast<uint64_t>(whole), n.u);
            } else if (whole >= 9223372036854775808.0) {
                c = 1;
            } else {
                c = three(static_cast<int64_t>(whole), n.i);
            }
            result = c != 0 ? c : (d > whole ? 1 : 0);
        }
        return flip ? -result : result;
    }
    if (a.kind == b.kind) return a.kind == NumberKind::Signed ? three(a.i, b.i) : three(a.u, b.u);
    // Unsigned values are above the signed range.
    return a.kind == NumberKind::Unsigned ? 1 : -1;
}

void destroyNumber(Object *object)
{
    deleteObject<__CFNumber>(object);
}

bool equalNumbers(const Object *a, const Object *b)
{
    return compareValues(static_cast<const __CFNumber *>(a)->value,
                         static_cast<const __CFNumber *>(b)->value) == 0;
}

CFHashCode hashNumber(const Object *object)
{
    const NumberValue &v = static_cast<const __CFNumber *>(object)->value;
    uint64_t           bitsOf;
    if (v.kind == NumberKind::Real) {
        // An integral real hashes as the integer it equals.
        if (v.d == std::floor(v.d) && v.d >= -9223372036854775808.0 &&
            v.d < 9223372036854775808.0) {
            bitsOf = static_cast<uint64_t>(static_cast<int64_t>(v.d));
        } else {
            std::memcpy(&bitsOf, &v.d, sizeof bitsOf);
        }
    } else {
        bitsOf = v.kind == NumberKind::Signed ? static_cast<uint64_t>(v.i) : v.u;
    }
    bitsOf ^= bitsOf >> 33;
    bitsOf *= 0xff51afd7ed558ccdull;
    bitsOf ^= bitsOf >> 33;
    return static_cast<CFHashCode>(bitsOf);
}

CFStringRef describeNumber(const Object *object)
{
    const NumberValue &v = static_cast<const __CFNumber *>(object)->value;
    char               text[64];
    int                length = 0;
    if (v.kind == NumberKind::Signed) {
        length = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v.i));
    } else if (v.kind == NumberKind::Unsigned) {
        length = std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(v.u));
    } else if (std::isnan(v.d)) {
        length = std::snprintf(text, sizeof text, "nan");
    } else if (std::isinf(v.d)) {
        length = std::snprintf(text, sizeof text, v.d > 0 ? "+infinity" : "-infinity");
    } else {
        auto result = std::to_chars(text, text + sizeof text, v.d);
        length      = static_cast<int>(result.ptr - text);
    }
    return createStringFromUTF8(text, static_cast<size_t>(length));
}

void        destroyBoolean(Object *) {}
CFStringRef describeBoolean(const Object *object)
{
    bool value = static_cast<const __CFBoolean *>(object)->value;
    return createStringFromUTF8(value ? "true" : "false", value ? 4 : 5);
}

CFNumberType canonicalType(CFNumberType type)
{
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
    case kCFNumberLongType:
        return kCFNumberSInt32Type; // 32-bit long, as on the system's target
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
        return kCFNumberSInt64Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
        return kCFNumberFloat64Type;
    }
    return static_cast<CFNumberType>(0);
}

CFIndex byteSizeOf(CFNumberType canonical)
{
    switch (canonical) {
    case kCFNumberSInt8Type:
        return 1;
    case kCFNumberSInt16Type:
        return 2;
    case kCFNumberSInt32Type:
    case kCFNumberFloat32Type:
        return 4;
    default:
        return 8;
    }
}

__CFNumber *makeNumber(CFNumberType canonical, NumberValue value)
{
    return newObject<__CFNumber>(canonical, value);
}

const __CFNumber *checkNumber(CFNumberRef number, const char *function)
{
    if (number == nullptr || typeOf(number) != kNumberTypeID) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not a number",
                      function);
        fatal(message);
    }
    return number;
}

} // namespace

namespace vz {

const TypeClass kNumberClass  = {"CFNumber", destroyNumber, equalNumbers, hashNumber,
                                 describeNumber};
const TypeClass kBooleanClass = {"CFBoolean", destroyBoolean, nullptr, nullptr, describeBoolean};

CFNumberRef createSignedNumber(int64_t value) noexcept
{
    NumberValue v;
    v.kind = NumberKind::Signed;
    v.i    = value;
    return makeNumber(kCFNumberSInt64Type, v);
}

CFNumberRef createUnsignedNumber(uint64_t value) noexcept
{
    if (value <= static_cast<uint64_t>(INT64_MAX))
        return createSignedNumber(static_cast<int64_t>(value));
    NumberValue v;
    v.kind = NumberKind::Unsigned;
    v.u    = value;
    return makeNumber(kCFNumberSInt64Type, v);
}

CFNumberRef createRealNumber(double value) noexcept
{
    NumberValue v;
    v.kind = NumberKind::Real;
    v.d    = value;
    return makeNumber(kCFNumberFloat64Type, v);
}

NumberValue numberValue(CFNumberRef number) noexcept
{
    return number->value;
}

} // namespace vz

const CFBooleanRef kCFBooleanTrue  = &gTrue;
const CFBooleanRef kCFBooleanFalse = &gFalse;

CFTypeID CFBooleanGetTypeID(void) noexcept
{
    return kBooleanTypeID;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) noexcept
{
    if (boolean == nullptr || typeOf(boolean) != kBooleanTypeID)
        fatal("CFBooleanGetValue called with something that is not a boolean");
    return boolean->value;
}

CFTypeID CFNumberGetTypeID(void) noexcept
{
    return kNumberTypeID;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void *valuePtr) noexcept
{
    CFNumberType canonical = canonicalType(theType);
    if (canonical == 0 || valuePtr == nullptr) return nullptr;
    NumberValue v;
    v.kind = NumberKind::Signed;
    switch (canonical) {
    case kCFNumberSInt8Type:
        v.i = *static_cast<const int8_t *>(valuePtr);
        break;
    case kCFNumberSInt16Type:
        v.i = *static_cast<const int16_t *>(valuePtr);
        break;
    case kCFNumberSInt32Type:
        v.i = *static_cast<const int32_t *>(valuePtr);
        break;
    case kCFNumberSInt64Type: {
        int64_t value;
        std::memcpy(&value, valuePtr, sizeof value);
        v.i = value;
        break;
    }
    case kCFNumberFloat32Type:
        v.kind = NumberKind::Real;
        v.d    = *static_cast<const float *>(valuePtr);
        break;
    default:
        v.kind = NumberKind::Real;
        std::memcpy(&v.d, valuePtr, sizeof v.d);
        break;
    }
    return makeNumber(canonical, v);
}

CFNumberType CFNumberGetType(CFNumberRef number) noexcept
{
    return checkNumber(number, "CFNumberGetType")->type();
}

CFIndex CFNumberGetByteSize(CFNumberRef number) noexcept
{
    return byteSizeOf(checkNumber(number, "CFNumberGetByteSize")->type());
}

Boolean CFNumberIsFloatType(CFNumberRef number) noexcept
{
    return checkNumber(number, "CFNumberIsFloatType")->value.kind == NumberKind::Real;
}

namespace {

// Converts to an integer type of the given range; exact tells whether
// nothing was lost.
template <typename T> T toInteger(const NumberValue &v, bool &exact)
{
    constexpr int64_t low  = static_cast<int64_t>(std::numeric_limits<T>::min());
    constexpr int64_t high = static_cast<int64_t>(std::numeric_limits<T>::max());
    if (v.kind == NumberKind::Unsigned) {
        exact = false;
        return std::numeric_limits<T>::max();
    }
    if (v.kind == NumberKind::Real) {
        double d = v.d;
        if (std::isnan(d)) {
            exact = false;
            return 0;
        }
        double t = std::trunc(d);
        if (t < static_cast<double>(low)) {
            exact = false;
            return std::numeric_limits<T>::min();
        }
        if (t >= static_cast<double>(high) + 1.0) {
            exact = false;
            return std::numeric_limits<T>::max();
        }
        exact = t == d;
        return static_cast<T>(t);
    }
    if (v.i < low) {
        exact = false;
        return std::numeric_limits<T>::min();
    }
    if (v.i > high) {
        exact = false;
        return std::numeric_limits<T>::max();
    }
    exact = true;
    return static_cast<T>(v.i);
}

double toDouble(const NumberValue &v, bool &exact)
{
    double d;
    switch (v.kind) {
    case NumberKind::Real:
        exact = true;
        return v.d;
    case NumberKind::Signed:
        d     = static_cast<double>(v.i);
        exact = d < 9223372036854775808.0 && static_cast<int64_t>(d) == v.i;
        return d;
    case NumberKind::Unsigned:
        d     = static_cast<double>(v.u);
        exact = d < 18446744073709551616.0 && static_cast<uint64_t>(d) == v.u;
        return d;
    }
    exact = false;
    return 0;
}

} // namespace

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) noexcept
{
    const NumberValue &v         = checkNumber(number, "CFNumberGetValue")->value;
    CFNumberType       canonical = canonicalType(theType);
    bool               exact     = false;
    if (canonical == 0 || valuePtr == nullptr) return false;
    switch (canonical) {
    case kCFNumberSInt8Type:
        *static_cast<int8_t *>(valuePtr) = toInteger<int8_t>(v, exact);
        break;
    case kCFNumberSInt16Type:
        *static_cast<int16_t *>(valuePtr) = toInteger<int16_t>(v, exact);
        break;
    case kCFNumberSInt32Type:
        *static_cast<int32_t *>(valuePtr) = toInteger<int32_t>(v, exact);
        break;
    case kCFNumberSInt64Type: {
        int64_t value = v.kind == NumberKind::Unsigned ? static_cast<int64_t>(v.u)
                                                       : toInteger<int64_t>(v, exact);
        if (v.kind == NumberKind::Unsigned) exact = false;
        std::memcpy(valuePtr, &value, sizeof value);
        break;
    }
    case kCFNumberFloat32Type: {
        double d                        = toDouble(v, exact);
        float  f                        = static_cast<float>(d);
        exact                           = exact && (std::isnan(d) || static_cast<double>(f) == d);
        *static_cast<float *>(valuePtr) = f;
        break;
    }
    default: {
        double d = toDouble(v, exact);
        std::memcpy(valuePtr, &d, sizeof d);
        break;
    }
    }
    return exact;
}

CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void *) noexcept
{
    int c = compareValues(checkNumber(number, "CFNumberCompare")->value,
                          checkNumber(otherNumber, "CFNumberCompare")->value);
    return c < 0 ? kCFCompareLessThan : (c > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
}
