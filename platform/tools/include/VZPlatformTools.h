// VZPlatformTools.h: what the project's commands may ask of the platform
// beyond the framework headers, and nothing else may: the bounded whole-file
// read, the atomic replacement of a file, the store lock, the readable
// listing of a property list, the locked read-modify-write of the dynamic
// store, the registry as a snapshot, the system's reason behind a failure,
// and the width of text on a terminal.
// The libraries above the platform never include this header; the commands
// reach it through the vz_platform_tools target, never the platform's private
// sources.
//
// Every function returns 0 or an errno (or an SCError status where it says
// so) and never throws.
#ifndef VZ_PLATFORMTOOLS_H
#define VZ_PLATFORMTOOLS_H

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <sys/types.h>

// The largest file the platform reads whole (a store, the dynamic store, a
// registry snapshot, a property-list file): 64 MiB. Anything larger, and
// anything that is not a regular file, is refused rather than read without
// end.
#define kVZMaxFileBytes (64L * 1024 * 1024)

// The keys of a service's State:/Network/Service/<id>/PPP entry in the
// dynamic store that carry its connection's state.
#define kVZConnectionStatusKey CFSTR("Status")
#define kVZConnectionUserOptionsKey CFSTR("UserOptions")

extern "C" {

// Reads the regular file at path whole into a new data object (*contents,
// which the caller releases). 0, or an errno: ENOENT when there is no file,
// EISDIR for a folder, EINVAL for anything else that is not a regular file
// (a FIFO, a device), EFBIG for a file larger than kVZMaxFileBytes, EAGAIN
// when the file kept changing while it was read, ENOMEM.
int VZFileCopyContents(const char *path, CFDataRef *contents) noexcept;

// Reads the property list in the regular file at path straight into
// objects (mutabilityOption as CFPropertyListCreateFromXMLData takes it),
// in pieces: the file's bytes are never held whole. 0 with *plist the tree,
// which the caller releases; an errno of the read as VZFileCopyContents gives
// them; or EBADMSG when the text is not a property list, with *message (may
// be NULL; released by the caller) saying why.
int VZPropertyListCreateFromFile(const char *path, CFOptionFlags mutabilityOption,
                                 CFPropertyListRef *plist, CFStringRef *message) noexcept;

// Replaces the file at path with contents atomically and durably: a
// temporary beside it, synced, renamed over it, then the folder synced. The
// old file's owner, group and mode are kept (defaultMode for a new file).
// When path is a symbolic link, the file it leads to is replaced and the link
// stays, if that file is under the root or under the folder of path; a link
// that leads anywhere else is refused with EXDEV. 0, or the errno of the step
// that failed; *replaced (may be NULL) says whether the new file is in place,
// which it is when only the final sync of the folder failed.
int VZFileReplace(const char *path, CFDataRef contents, mode_t defaultMode,
                  Boolean *replaced) noexcept;

// Words for an errno of the calls above: for EXDEV from VZFileReplace, "the
// symbolic link leads out of the root"; for anything else, strerror's text.
const char *VZFileErrorString(int error) noexcept;

// Takes the exclusive lock on an existing lock file (FILE-lock beside a
// store), as the preferences and dynamic stores take theirs, waiting for
// another holder when wait is true. 0 with *descriptor the open lock file,
// whose close releases the lock; EWOULDBLOCK when it is held and wait is
// false; ENOENT when there is no lock file; ELOOP for a symbolic link.
int VZFileLockExisting(const char *lockPath, Boolean wait, int *descriptor) noexcept;

// The readable listing of a property-list value, as "vz-plutil -p" prints
// it: JSON-like quoting (and what else a terminal must not be handed raw
// escaped as vztool::printable escapes it, "\u202e"), nested values on lines
// of their own indented two spaces per level, dictionary keys in the
// canonical file's order, data as its length and first 64 bytes in
// hexadecimal. A new data object holding the UTF-8 text, without a final
// newline; NULL when memory runs out.
CFDataRef VZPropertyListCreateListing(CFPropertyListRef value) noexcept;

// The same listing of a dictionary's entries alone, without its braces: one
// "key" => value line per entry, each indented two spaces per depth level.
CFDataRef VZPropertyListCreateEntriesListing(CFDictionaryRef dict, int depth) noexcept;

// The path of a file of the root (relative to it, such as
// kVZRegistrySnapshotFile), as a new C string the caller frees; NULL when
// memory runs out.
#define kVZRegistrySnapshotFile "var/run/SystemConfiguration/ioregistry.plist"
char *VZCopyPathUnderRoot(const char *relative) noexcept;

// The registry the registry calls see (the root's snapshot file, or the
// machine's live registry) as a snapshot tree, in the snapshot file's format:
// kIOReturnSuccess with *tree a new dictionary the caller releases,
// kIOReturnError when the registry cannot be read, kIOReturnNoMemory.
IOReturn VZRegistryCreateSnapshot(CFDictionaryRef *tree) noexcept;

// The system's reason for the failure SCError() reports now, on this thread:
// the errno of the system call (a read, the lock, a write, a sync, a rename)
// whose failure made that status, or 0 when none did (a damaged file, a stale
// snapshot, a busy lock, a bad argument). A command says what happened with
// it: the same 1001 is a full disk (ENOSPC) or a damaged store (0).
int VZGetLastSystemError(void) noexcept;

// The columns a terminal gives the UTF-8 text, for tables aligned as a
// reader sees them: 2 for an East Asian wide or fullwidth character, 0 for a
// combining mark, a zero-width or other format character and a control
// character, 1 for anything else (an ill-formed sequence included).
long VZTextGetColumns(const char *utf8, size_t length) noexcept;

// Changes the dynamic store of the root in one locked read-modify-write:
// edit gets a mutable copy of the whole store and returns an SCError status;
// a failure, or *changed left false, writes nothing. Returns edit's failure
// or the status of the write.
typedef int (*VZDynamicStoreEditor)(CFMutableDictionaryRef content, Boolean *changed,
                                    void *context);
int VZDynamicStoreEdit(VZDynamicStoreEditor edit, void *context) noexcept;

} // extern "C"

#endif
