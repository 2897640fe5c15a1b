// Data.cpp: byte buffers. An immutable buffer keeps its bytes inline after
// the header, or borrows them (NoCopy with kCFAllocatorNull) or owns a block
// (NoCopy with another deallocator); a mutable one keeps a std::vector.
#include "Containers.h"
#include "Description.h"

#include <cstdio>
#include <cstring>
#include <vector>

struct __CFData : vz::Object {
    enum : uint8_t { kMutable = 1, kInline = 2, kOwnedBlock = 4 };
    size_t         length;
    const uint8_t *external; // borrowed or owned block when not inline
    __CFData(uint8_t flags, size_t count, const uint8_t *bytes) noexcept
        : Object(vz::kDataTypeID, flags), length(count), external(bytes)
    {
    }
    bool isMutable() const noexcept { return (bits & kMutable) != 0; }
};

namespace {

struct MutableData : __CFData {
    std::vector<uint8_t> buffer;
    MutableData() noexcept : __CFData(kMutable, 0, nullptr) {}
};

const uint8_t *bytesOf(const __CFData *d)
{
    if (d->isMutable()) return static_cast<const MutableData *>(d)->buffer.data();
    if (d->bits & __CFData::kInline) return reinterpret_cast<const uint8_t *>(d) + sizeof(__CFData);
    return d->external;
}
size_t lengthOf(const __CFData *d)
{
    return d->isMutable() ? static_cast<const MutableData *>(d)->buffer.size() : d->length;
}

void destroyData(vz::Object *object)
{
    auto *d = static_cast<__CFData *>(object);
    if (d->isMutable()) {
        vz::deleteObject<MutableData>(object);
        return;
    }
    if (d->bits & __CFData::kOwnedBlock) std::free(const_cast<uint8_t *>(d->external));
    vz::deleteObjectWithTail<__CFData>(object);
}

bool equalData(const vz::Object *a, const vz::Object *b)
{
    auto  *x = static_cast<const __CFData *>(a);
    auto  *y = static_cast<const __CFData *>(b);
    size_t n = lengthOf(x);
    return n == lengthOf(y) && (n == 0 || std::memcmp(bytesOf(x), bytesOf(y), n) == 0);
}

CFHashCode hashData(const vz::Object *object)
{
    auto          *d = static_cast<const __CFData *>(object);
    size_t         n = lengthOf(d);
    const uint8_t *p = bytesOf(d);
    uint64_t       h = 0xcbf29ce484222325ull ^ n;
    for (size_t i = 0; i < n && i < 80; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return static_cast<CFHashCode>(h);
}

CFStringRef describeData(const vz::Object *object)
{
    return vz::guarded<CFStringRef>(nullptr, [&] {
        std::u16string text;
        vz::appendNestedDescription(text, object, true, 0);
        return vz::createStringFromDescription(text);
    });
}

const __CFData *checkData(CFDataRef data, const char *function)
{
    if (data == nullptr || vz::typeOf(data) != vz::kDataTypeID) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not data",
                      function);
        vz::fatal(message);
    }
    return data;
}

MutableData *checkMutableData(CFMutableDataRef data, const char *function)
{
    checkData(data, function);
    if (!data->isMutable()) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with immutable data", function);
        vz::fatal(message);
    }
    return static_cast<MutableData *>(data);
}

void checkRange(size_t length, CFRange range, const char *function)
{
    if (range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location) + static_cast<size_t>(range.length) > length) {
        char message[128];
        std::snprintf(message, sizeof message, "%s: range out of bounds", function);
        vz::fatal(message);
    }
}

} // namespace

namespace vz {

const TypeClass kDataClass = {"CFData", destroyData, equalData, hashData, describeData};

bool isMutableData(CFDataRef data) noexcept
{
    return data->isMutable();
}

} // namespace vz

using namespace vz;

CFTypeID CFDataGetTypeID(void) noexcept
{
    return kDataTypeID;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) noexcept
{
    if (length < 0 || (length > 0 && bytes == nullptr)) fatal("CFDataCreate: bad bytes");
    auto *d = newObjectWithTail<__CFData>(static_cast<size_t>(length), uint8_t(__CFData::kInline),
                                          static_cast<size_t>(length), nullptr);
    if (d == nullptr) return nullptr;
    if (length > 0)
        std::memcpy(reinterpret_cast<uint8_t *>(d) + sizeof(__CFData), bytes,
                    static_cast<size_t>(length));
    return d;
}

CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef, const UInt8 *bytes, CFIndex length,
                                      CFAllocatorRef bytesDeallocator) noexcept
{
    if (length < 0 || (length > 0 && bytes == nullptr))
        fatal("CFDataCreateWithBytesNoCopy: bad bytes");
    uint8_t flags = bytesDeallocator == kCFAllocatorNull ? 0 : __CFData::kOwnedBlock;
    return newObjectWithTail<__CFData>(0, flags, static_cast<size_t>(length), bytes);
}

CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData) noexcept
{
    const __CFData *d = checkData(theData, "CFDataCreateCopy");
    if (!d->isMutable()) {
        retainObject(d);
        return d;
    }
    return CFDataCreate(allocator, bytesOf(d), static_cast<CFIndex>(lengthOf(d)));
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex) noexcept
{
    return newObject<MutableData>();
}

CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef, CFIndex, CFDataRef theData) noexcept
{
    const __CFData *d    = checkData(theData, "CFDataCreateMutableCopy");
    MutableData    *copy = newObject<MutableData>();
    if (copy == nullptr) return nullptr;
    bool ok = guarded<bool>(false, [&] {
        copy->buffer.assign(bytesOf(d), bytesOf(d) + lengthOf(d));
        return true;
    });
    if (!ok) {
        releaseObject(copy);
        return nullptr;
    }
    return copy;
}

CFIndex CFDataGetLength(CFDataRef theData) noexcept
{
    return static_cast<CFIndex>(lengthOf(checkData(theData, "CFDataGetLength")));
}

const UInt8 *CFDataGetBytePtr(CFDataRef theData) noexcept
{
    return bytesOf(checkData(theData, "CFDataGetBytePtr"));
}

UInt8 *CFDataGetMutableBytePtr(CFMutableDataRef theData) noexcept
{
    return checkMutableData(theData, "CFDataGetMutableBytePtr")->buffer.data();
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer) noexcept
{
    const __CFData *d = checkData(theData, "CFDataGetBytes");
    checkRange(lengthOf(d), range, "CFDataGetBytes");
    if (range.length > 0)
        std::memcpy(buffer, bytesOf(d) + range.location, static_cast<size_t>(range.length));
}

void CFDataSetLength(CFMutableDataRef theData, CFIndex length) noexcept
{
    MutableData *d = checkMutableData(theData, "CFDataSetLength");
    if (length < 0) fatal("CFDataSetLength: negative length");
    guardedVoid([&] { d->buffer.resize(static_cast<size_t>(length), 0); });
}

void CFDataIncreaseLength(CFMutableDataRef theData, CFIndex extraLength) noexcept
{
    MutableData *d = checkMutableData(theData, "CFDataIncreaseLength");
    if (extraLength < 0) fatal("CFDataIncreaseLength: negative length");
    guardedVoid([&] { d->buffer.resize(d->buffer.size() + static_cast<size_t>(extraLength), 0); });
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length) noexcept
{
    MutableData *d = checkMutableData(theData, "CFDataAppendBytes");
    if (length < 0 || (length > 0 && bytes == nullptr)) fatal("CFDataAppendBytes: bad bytes");
    guardedVoid([&] { d->buffer.insert(d->buffer.end(), bytes, bytes + length); });
}

void CFDataReplaceBytes(CFMutableDataRef theData, CFRange range, const UInt8 *newBytes,
                        CFIndex newLength) noexcept
{
    MutableData *d = checkMutableData(theData, "CFDataReplaceBytes");
    checkRange(d->buffer.size(), range, "CFDataReplaceBytes");
    if (newLength < 0 || (newLength > 0 && newBytes == nullptr))
        fatal("CFDataReplaceBytes: bad bytes");
    guardedVoid([&] {
        std::vector<uint8_t> replacement(newBytes, newBytes + newLength);
        auto                 first = d->buffer.begin() + range.location;
        d->buffer.erase(first, first + range.length);
        d->buffer.insert(d->buffer.begin() + range.location, replacement.begin(),
                         replacement.end());
    });
}

void CFDataDeleteBytes(CFMutableDataRef theData, CFRange range) noexcept
{
    MutableData *d = checkMutableData(theData, "CFDataDeleteBytes");
    checkRange(d->buffer.size(), range, "CFDataDeleteBytes");
    auto first = d->buffer.begin() + range.location;
    d->buffer.erase(first, first + range.length);
}
