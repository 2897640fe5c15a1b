// Folders.cpp: the folders of the four domains under the root.
//
// The path of a folder is built afresh on every call from the root, the
// domain's library and the folder's name, so a process that moves the root
// finds the new root's folders. The user domain's library is under the login
// name of the effective user, taken from the user database; a user without
// an entry, or a name that cannot stand as one path component, has no user
// folders.
#include "FileErrors.h"
#include "FileRefs.h"
#include "Root.h"
#include "Runtime.h"
#include "Syscalls.h"
#include "UnderRoot.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr mode_t kFolderMode = 0755;

struct FolderType {
    OSType      type;
    const char *name;
};
constexpr FolderType kFolderTypes[] = {
    {kModemScriptsFolderType, "Modem Scripts"},
    {kFrameworksFolderType, "Frameworks"},
};

std::optional<std::string> loginName()
{
    long              size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd     entry;
    struct passwd    *found = nullptr;
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || !vz::isSinglePathComponent(found->pw_name)) return std::nullopt;
    return std::string(found->pw_name);
}

// The library of a domain, relative to the root; nothing for an unknown
// domain (*err nsvErr) or a user without a login name (*err fnfErr).
std::optional<std::string> domainLibrary(FSVolumeRefNum domain, OSErr *err)
{
    switch (domain) {
    case kOnSystemDisk:
    case kOnAppropriateDisk:
    case kSystemDomain:
        return std::string("System/Library");
    case kLocalDomain:
        return std::string("Library");
    case kNetworkDomain:
        return std::string("Network/Library");
    case kUserDomain:
        if (std::optional<std::string> login = loginName()) return "Users/" + *login + "/Library";
        *err = fnfErr;
        return std::nullopt;
    default:
        *err = nsvErr;
        return std::nullopt;
    }
}

bool isFolder(const std::string &path, int *error)
{
    struct stat info;
    if (vz::sys::stat(path.c_str(), &info) != 0) {
        *error = errno;
        return false;
    }
    *error = S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    return *error == 0;
}

// Makes relative (under the root) and every missing folder above it.
OSErr makeFolders(const std::string &relative)
{
    std::string path  = vz::rootDirectory();
    size_t      start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        path += '/';
        path.append(relative, start, end - start);
        start     = end + 1;
        int error = 0;
        if (isFolder(path, &error)) continue;
        if (error == ENOTDIR) return errFSNotAFolder;
        if (error != ENOENT) return vz::fileErrorFromErrno(error);
        if (vz::sys::mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return vz::fileErrorFromErrno(errno);
        // Made by someone else meanwhile, or by us: it must be a folder now.
        if (!isFolder(path, &error)) return errFSNotAFolder;
    }
    return noErr;
}

OSErr findFolder(FSVolumeRefNum vRefNum, OSType folderType, Boolean createFolder, FSRef *foundRef)
{
    const char *folderName = nullptr;
    for (const FolderType &known : kFolderTypes) {
        if (known.type == folderType) folderName = known.name;
    }
    if (folderName == nullptr) return fnfErr;
    OSErr                      err     = noErr;
    std::optional<std::string> library = domainLibrary(vRefNum, &err);
    if (!library) return err;
    std::string relative = *library + "/" + folderName;
    std::string path     = vz::pathUnderRoot(relative);

    int error = 0;
    if (!isFolder(path, &error)) {
        if (!createFolder && (error == ENOTDIR || error == ENOENT)) return fnfErr;
        if (!createFolder) return vz::fileErrorFromErrno(error);
        if (OSErr made = makeFolders(relative); made != noErr) return made;
    }
    std::optional<vz::RefBody> body = vz::refForPath(path);
    if (!body) return bdNamErr;
    vz::writeRef(*body, foundRef);
    return noErr;
}

} // namespace

OSErr FSFindFolder(FSVolumeRefNum vRefNum, OSType folderType, Boolean createFolder,
                   FSRef *foundRef) noexcept
{
    if (foundRef == nullptr) return paramErr;
    return vz::guarded<OSErr>(
        memFullErr, [&] { return findFolder(vRefNum, folderType, createFolder, foundRef); });
}
