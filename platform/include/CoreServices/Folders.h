// Folders.h: the folders of the four domains under the root.
//
// A domain's library is System/Library (system), Library (local),
// Network/Library (network) or Users/<login name>/Library (user, the login
// name of the effective user; without one the user domain has no folders).
// kOnSystemDisk and kOnAppropriateDisk name the system domain. The folder
// types are the modem scripts ("Modem Scripts") and the frameworks
// ("Frameworks") of a library.
#ifndef VZ_CORESERVICES_FOLDERS_H
#define VZ_CORESERVICES_FOLDERS_H

#include <CoreServices/Files.h>

typedef SInt16 FSVolumeRefNum;

enum {
    kOnSystemDisk      = -32768,
    kOnAppropriateDisk = -32767,
    kSystemDomain      = -32766,
    kLocalDomain       = -32765,
    kNetworkDomain     = -32764,
    kUserDomain        = -32763
};

enum {
    kModemScriptsFolderType = (OSType)0xC46D6F64, // 'ƒmod'
    kFrameworksFolderType   = 0x6672616D          // 'fram'
};

enum { kDontCreateFolder = 0, kCreateFolder = 1 };

extern "C" {

// The ref of the folder of folderType in the domain vRefNum. A folder that
// does not exist (or is not a folder) is fnfErr unless createFolder is true,
// when it is made with any missing folders above it (mode 0755); something
// other than a folder in the way is then errFSNotAFolder. An unknown domain
// is nsvErr, an unknown folder type fnfErr.
OSErr FSFindFolder(FSVolumeRefNum vRefNum, OSType folderType, Boolean createFolder,
                   FSRef *foundRef) noexcept;

} // extern "C"

#endif
