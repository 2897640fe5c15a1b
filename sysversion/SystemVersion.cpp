// SystemVersion.cpp: the cached system version.
//
// The platform is asked once per process (Gestalt 'sysv'); a zero answer is
// not cached, so the next call asks again.
#include "MoreSCSystemVersion.h"
#include "SystemVersionTesting.h"

#include "MoreCFQ.h"

#include <CoreServices/CoreServices.h>

static UInt32 sMoreSCSystemVersion = 0;

UInt32 MoreSCGetSystemVersion(void) noexcept
{
    if (sMoreSCSystemVersion == 0) {
        OSErr  junk     = noErr;
        SInt32 response = 0;

        junk = Gestalt(gestaltSystemVersion, &response);
        VZ_ASSERT(junk == noErr);
        sMoreSCSystemVersion = static_cast<UInt32>(response);
    }
    return sMoreSCSystemVersion;
}

void MoreSCTestingForgetSystemVersion(void) noexcept
{
    sMoreSCSystemVersion = 0;
}
