// VaviVAZCCLScanner.h: the modem script catalogue. It lists the modem scripts
// installed on the machine by file name, sorted as a person expects (case
// ignored, in the user's language, numbers by value: "Modem 9" before
// "Modem 10"), each name once, and tells which entry is the default script
// that a new modem service gets.
//
// The scripts are the visible files (not folders, not invisible, not named
// ".something") directly inside the "Modem Scripts" folder of the user,
// network, local and system domains; only when none of the four folders
// exists is the folder of the system disk listed. Names that differ only in
// case are different scripts and both stay. A file that cannot be listed by
// name (a name that is not UTF-8 or longer than 255 UTF-16 units, a symbolic
// link that leads nowhere, an attribute that cannot be read) is left out and
// the others are listed.
//
// Error codes: 0 success; -108 the listing buffers could not be allocated;
// -4960 the array or a name's string could not be made; the File Manager's
// status for a script folder that cannot be looked up, opened or read. On
// any error no array is handed out.
#ifndef VZ_VAVIVAZCCLSCANNER_H
#define VZ_VAVIVAZCCLSCANNER_H

#include <CoreFoundation/CoreFoundation.h>

// Hands out in *result (NULL on entry) a new array of the installed script
// names, which the caller releases. When indexOfDefaultCCL is not NULL it
// receives the index of the default script in that array: the default's
// first entry compared case-insensitively, or 0 when the default is not
// installed or the array is empty. The default is the one MoreSCSetDefaultCCL
// set; without one it is chosen at the first call that asks for the index and
// kept for the life of the process: "Internal 56K Modem (v.92)" before
// 10.4 on a machine whose built-in modem (the port with device name "modem")
// supports modem-on-hold, "Internal 56K Modem (v.90)" otherwise (a port
// scan that fails gives the v.90 script to that call and is not kept). Only
// that choice scans the ports; a call without indexOfDefaultCCL never does.
OSStatus MoreSCCreateCCLArray(CFArrayRef *result, CFIndex *indexOfDefaultCCL) noexcept;

// Makes newDefaultCCL the default script (retained), or with NULL forgets the
// default, so that the next call that asks for its index chooses it again.
void MoreSCSetDefaultCCL(CFStringRef newDefaultCCL) noexcept;

// While true, the choice of the default never looks at the machine's ports:
// it is "Internal 56K Modem (v.90)". False at start; the library never
// changes it.
extern Boolean gVaviVAZCCLScannerBugForBugCompatibility;

#endif
