// Gestalt.cpp: the system version ('sysv') from SystemVersion.plist under the
// root.
//
// ProductVersion "major.minor.update" (minor and update optional, decimal) is
// packed as hexadecimal digits: two for the major number, one each for the
// minor and update numbers, the last two capped at 9, so "10.4.11" reads
// 0x1049. A missing file reads 0x1068. So does a file that cannot be read or
// parsed, or whose ProductVersion is missing or not such a version (a major
// number above 99 included): the system treats a failed Gestalt as a
// programming error and stops, and a damaged file is input, not a programming
// error.
#include "Root.h"
#include "StoreFile.h"
#include "StringStorage.h"

#include <CoreServices/CoreServices.h>

#include <string>

namespace {

constexpr SInt32 kVersionWithoutFile = 0x1068;

// The packed version, or 0 when text is not a version.
SInt32 packVersion(const std::string &text)
{
    unsigned parts[3] = {0, 0, 0};
    size_t   count    = 0;
    size_t   i        = 0;
    while (count < 3) {
        size_t   start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 6)
            value = value * 10 + static_cast<unsigned>(text[i++] - '0');
        if (i == start || (i < text.size() && text[i] >= '0' && text[i] <= '9')) return 0;
        parts[count++] = value;
        if (i == text.size()) break;
        if (text[i] != '.' || count == 3) return 0;
        i++;
    }
    if (i != text.size() || parts[0] > 99) return 0;
    unsigned major  = (parts[0] / 10) * 16 + parts[0] % 10;
    unsigned minor  = parts[1] > 9 ? 9 : parts[1];
    unsigned update = parts[2] > 9 ? 9 : parts[2];
    return static_cast<SInt32>((major << 8) | (minor << 4) | update);
}

SInt32 systemVersion()
{
    vz::FileIdentity           identity;
    vz::CFRef<CFDictionaryRef> plist;
    if (vz::readDictionaryFile(vz::pathUnderRoot(vz::kSystemVersionFile), &identity, &plist) != 0)
        return kVersionWithoutFile;
    CFTypeRef version = CFDictionaryGetValue(plist.get(), CFSTR("ProductVersion"));
    if (version == nullptr || CFGetTypeID(version) != CFStringGetTypeID())
        return kVersionWithoutFile;
    SInt32 packed = packVersion(vz::toUTF8String(static_cast<CFStringRef>(version)));
    return packed != 0 ? packed : kVersionWithoutFile;
}

} // namespace

OSErr Gestalt(OSType selector, SInt32 *response) noexcept
{
    if (selector != gestaltSystemVersion) return gestaltUndefSelectorErr;
    if (response == nullptr) return gestaltUnknownErr;
    *response = vz::guarded(kVersionWithoutFile, [] { return systemVersion(); });
    return noErr;
}
