// EncodingsTest.cpp: MAC address strings both ways, dotted IPv4 strings and
// arrays, and the encoded PPP password.
#include "DigestTestSupport.h"

#include "VaviVAZDigest.h"

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using vztest::Str;
using vztest::Utf8;

class EncodingsTest : public vztest::TempRoot {};

using Mac = std::array<UInt8, 6>;

TEST_F(EncodingsTest, MacAddressStringIsLowerCaseAndZeroPadded)
{
    const struct {
        Mac         bytes;
        const char *text;
    } rows[] = {
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "00:00:00:00:00:00"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "ff:ff:ff:ff:ff:ff"},
        {{0x02, 0x0A, 0x1B, 0xFF, 0x07, 0xC4}, "02:0a:1b:ff:07:c4"},
    };
    for (const auto &row : rows) {
        CFStringRef text = nullptr;
        ASSERT_EQ(VaviVAZCreateStringWithMacAddress(row.bytes.data(), &text), noErr);
        EXPECT_EQ(Utf8(text), row.text);
        CFRelease(text);
    }
}

TEST_F(EncodingsTest, MacAddressStringScansOrIsRefused)
{
    const Mac expected  = {0x02, 0x0A, 0x1B, 0xFF, 0x07, 0xC4};
    const Mac untouched = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    const struct {
        const char *text;
        OSStatus    err;
    } rows[] = {
        {"02:0a:1b:ff:07:c4", noErr},
        {"02:0A:1B:FF:07:C4", noErr},
        {"2:a:1b:ff:7:c4", noErr},
        {"02:0a:1b:ff:07:c4 ", -4960}, // 18 characters do not fit
        {"02:0a:1b:ff:07:c4:00", -4960},
        {"02:0a:1b:ff:07:c\xC3\xA9", -4960}, // not ASCII
        {"02:0a:1b:ff:07", -1},
        {"02:0a:1b:ff:07:zz", -1},
        {"02-0a-1b-ff-07-c4", -1},
        {"", -1},
        // A sign is taken as part of a group by the scan; the group is out of
        // range and the string is refused rather than trusted.
        {"-1:0a:1b:ff:07:c4", -1},
        {"02:0a:1b:ff:07:-4", -1},
    };
    for (const auto &row : rows) {
        Mac bytes = untouched;
        Str text(row.text);
        EXPECT_EQ(VaviVAZStringToMacAddress(text.get(), bytes.data()), row.err) << row.text;
        EXPECT_EQ(bytes, row.err == noErr ? expected : untouched) << row.text;
    }
}

TEST_F(EncodingsTest, MacAddressesRoundTrip)
{
    std::mt19937 random(5);
    for (int round = 0; round < 200; round++) {
        Mac bytes, back = {};
        for (UInt8 &b : bytes)
            b = (UInt8)random();
        CFStringRef text = nullptr;
        ASSERT_EQ(VaviVAZCreateStringWithMacAddress(bytes.data(), &text), noErr);
        ASSERT_EQ(CFStringGetLength(text), 17);
        ASSERT_EQ(VaviVAZStringToMacAddress(text, back.data()), noErr) << Utf8(text);
        EXPECT_EQ(back, bytes) << Utf8(text);
        CFRelease(text);
    }
}

static struct in_addr Address(UInt8 a, UInt8 b, UInt8 c, UInt8 d)
{
    // In memory order, first octet at the lowest address: network order.
    struct in_addr addr;
    const UInt8    octets[4] = {a, b, c, d};
    std::memcpy(&addr.s_addr, octets, 4);
    return addr;
}

TEST_F(EncodingsTest, InetAddressesBecomeDottedStringsInOrder)
{
    const struct in_addr addrs[] = {Address(192, 168, 1, 1), Address(0, 0, 0, 0),
                                    Address(255, 255, 255, 255), Address(10, 0, 20, 3)};
    const char *const    texts[] = {"192.168.1.1", "0.0.0.0", "255.255.255.255", "10.0.20.3"};

    for (size_t i = 0; i < 4; i++) {
        CFStringRef text = nullptr;
        ASSERT_EQ(VaviVAZCreateStringWithInetAddress(addrs[i], &text), noErr);
        EXPECT_EQ(Utf8(text), texts[i]);
        CFRelease(text);
    }

    for (UInt32 count : {0u, 1u, 3u}) {
        CFArrayRef array = nullptr;
        ASSERT_EQ(VaviVAZCreateArrayWithInetAddresses(count, count ? addrs : nullptr, &array),
                  noErr);
        ASSERT_EQ(CFArrayGetCount(array), (CFIndex)count);
        for (UInt32 i = 0; i < count; i++) {
            EXPECT_EQ(Utf8((CFStringRef)CFArrayGetValueAtIndex(array, i)), texts[i]);
        }
        CFRelease(array);
    }
}

TEST_F(EncodingsTest, PasswordIsItsUtf16UnitsInHostOrder)
{
    const struct {
        const char          *utf8;
        std::vector<UniChar> units;
    } rows[] = {
        {"", {}},
        {"abc", {'a', 'b', 'c'}},
        {"p\xC3\xA4ss", {'p', 0x00E4, 's', 's'}},
        // Outside the Basic Multilingual Plane: one character, two units.
        {"\xF0\x9F\x98\x80!", {0xD83D, 0xDE00, '!'}},
    };
    for (const auto &row : rows) {
        Str       password(row.utf8);
        CFDataRef encoded = nullptr;
        ASSERT_EQ(VaviVAZCopyEncodedPPPPassword(password.get(), &encoded), noErr);
        ASSERT_EQ(CFDataGetLength(encoded), (CFIndex)(2 * row.units.size())) << row.utf8;
        std::vector<UniChar> stored(row.units.size());
        if (!stored.empty())
            std::memcpy(stored.data(), CFDataGetBytePtr(encoded), 2 * stored.size());
        EXPECT_EQ(stored, row.units) << row.utf8;
        CFRelease(encoded);
    }
}

TEST_F(EncodingsTest, OutOfMemoryLeavesResultsNull)
{
    const Mac            mac     = {1, 2, 3, 4, 5, 6};
    const struct in_addr addrs[] = {Address(10, 0, 0, 1), Address(10, 0, 0, 2)};
    Str                  password("secret");
    // Warm the constant strings and anything the first call caches.
    {
        CFStringRef s = nullptr;
        ASSERT_EQ(VaviVAZCreateStringWithMacAddress(mac.data(), &s), noErr);
        CFRelease(s);
    }

    CFIndex     live = VZGetLiveObjectCount();
    CFStringRef text = nullptr;
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(VaviVAZCreateStringWithMacAddress(mac.data(), &text), -4960);
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(VaviVAZCreateStringWithInetAddress(addrs[0], &text), -4960);
    EXPECT_EQ(text, nullptr);

    // The array and each string are made in turn; whichever fails, no array.
    for (long n = 0; n < 3; n++) {
        CFArrayRef array = nullptr;
        VZArmAllocationFailure(n, false);
        EXPECT_EQ(VaviVAZCreateArrayWithInetAddresses(2, addrs, &array), -4960) << n;
        EXPECT_EQ(array, nullptr);
    }

    // The scratch block comes first (-108), then the data value (-4960).
    const OSStatus passwordCodes[] = {-108, -4960};
    for (long n = 0; n < 2; n++) {
        CFDataRef encoded = nullptr;
        VZArmAllocationFailure(n, false);
        EXPECT_EQ(VaviVAZCopyEncodedPPPPassword(password.get(), &encoded), passwordCodes[n]);
        EXPECT_EQ(encoded, nullptr);
    }
    VZClearAllocationFailure();
    EXPECT_EQ(VZGetLiveObjectCount(), live);
}

} // namespace
