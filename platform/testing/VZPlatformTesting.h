// VZPlatformTesting.h: what tests may ask of the platform layer and nothing
// else may: the live-object count, the flushing of caches that keep objects
// alive across calls, and injected allocation failures.
#ifndef VZ_PLATFORMTESTING_H
#define VZ_PLATFORMTESTING_H

#include <CoreFoundation/CFBase.h>

extern "C" {

// Objects alive now, immortal constants excepted.
CFIndex VZGetLiveObjectCount(void) noexcept;

// Drops every object that a platform cache holds (the preferences store keeps
// the last parse of each file), so that a test can compare live counts.
void VZFlushPlatformCaches(void) noexcept;

// Arms a failure of the countdown-th next object creation or allocator block
// (0 means the very next one). With persist, every later one fails too, until
// VZClearAllocationFailure. Create and Copy functions then return NULL, and
// CFAllocatorAllocate returns NULL.
void VZArmAllocationFailure(long countdown, Boolean persist) noexcept;
void VZClearAllocationFailure(void) noexcept;
// How many allocations failed since the last arm.
long VZGetAllocationFailureCount(void) noexcept;

// Injected failures of the platform's file system calls (reading, locking and
// committing stores, listing folders). name is one of the names
// VZGetSyscallNames lists ("open", "close", "read", "write", "fstat", "stat",
// "fchmod", "fsync", "rename", "unlink", "mkdir", "mkstemp", "flock",
// "getxattr", "readdir", "fstatat") or "*" for any of them. "getxattr" is
// every attribute read, by path or beside an open folder, whichever the
// kernel allows.
// The countdown-th next matching call (0 means the very next one) fails with
// errno error; with persist, every later matching call fails too, until
// VZClearSyscallFailure. False for an unknown name or a negative countdown.
Boolean VZArmSyscallFailure(const char *name, long countdown, Boolean persist, int error) noexcept;
void    VZClearSyscallFailure(void) noexcept;
// How many calls failed since the last arm.
long VZGetSyscallFailureCount(void) noexcept;
// How many calls of that name the process made (failed ones included); -1
// for an unknown name.
long VZGetSyscallCallCount(const char *name) noexcept;
// The names of the calls, ending with NULL.
const char *const *VZGetSyscallNames(void) noexcept;

} // extern "C"

#endif
