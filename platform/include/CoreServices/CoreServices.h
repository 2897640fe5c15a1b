// CoreServices.h: the system version (Gestalt), and the folder and catalog
// calls over the root (Files.h, Folders.h).
//
// Gestalt('sysv') reads ProductVersion from
// System/Library/CoreServices/SystemVersion.plist under the root and packs it
// as hexadecimal digits: two for the major number, one each for the minor and
// update numbers, the last two capped at 9 ("10.4.11" reads 0x1049). Without
// the file the answer is 0x1068, and so it is for a file that cannot be read
// or parsed or holds no usable version: callers treat a failed Gestalt as a
// programming error and stop, while a damaged file is input, not a
// programming error.
#ifndef VZ_CORESERVICES_H
#define VZ_CORESERVICES_H

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/Files.h>
#include <CoreServices/Folders.h>

enum {
    gestaltSystemVersion    = 0x73797376, // 'sysv'
    gestaltUnknownErr       = -5550,
    gestaltUndefSelectorErr = -5551
};

extern "C" {

OSErr Gestalt(OSType selector, SInt32 *response) noexcept;

} // extern "C"

#endif
