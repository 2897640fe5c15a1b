// SystemVersionTesting.h: hooks for tests only; the library never calls them.
#ifndef VZ_SYSTEMVERSIONTESTING_H
#define VZ_SYSTEMVERSIONTESTING_H

// Forgets the cached system version, so that the next MoreSCGetSystemVersion
// asks the platform again (tests change SystemVersion.plist between cases).
void MoreSCTestingForgetSystemVersion(void) noexcept;

#endif
