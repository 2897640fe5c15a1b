// FileRefs.cpp: ref bodies and the folder table.
//
// Invariants: an index handed out stays valid and keeps naming the same
// path for the life of the process; entries are only ever added, under the
// mutex, and read under it.
#include "FileRefs.h"

#include "FolderListing.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace vz {

namespace {

constexpr uint32_t kRefTag = 0x46535266; // "FSRf"

struct Folder {
    std::string                    path;
    std::shared_ptr<FolderListing> listing; // while an iterator lists it
};

struct FolderTable {
    std::mutex                                mutex;
    std::vector<Folder>                       folders;
    std::unordered_map<std::string, uint32_t> indexes;
};

FolderTable &folderTable()
{
    // Never destroyed: refs may be used by other static destructors.
    static FolderTable *table = new FolderTable;
    return *table;
}

} // namespace

uint32_t internFolder(const std::string &folderPath)
{
    FolderTable                &table = folderTable();
    std::lock_guard<std::mutex> hold(table.mutex);
    auto                        found = table.indexes.find(folderPath);
    if (found != table.indexes.end()) return found->second;
    auto index = static_cast<uint32_t>(table.folders.size());
    table.folders.push_back(Folder{folderPath, nullptr});
    try {
        table.indexes.emplace(folderPath, index);
    } catch (...) {
        table.folders.pop_back();
        throw;
    }
    return index;
}

std::optional<RefBody> refForPath(std::string_view path)
{
    // A root given as a relative path makes relative paths: pin them to the
    // current folder now, so that the ref keeps naming the same item.
    std::string absolutePath;
    if (path.empty() || path.front() != '/') {
        char *cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) return std::nullopt;
        absolutePath = cwd;
        std::free(cwd);
        absolutePath += '/';
    }
    absolutePath += path;
    size_t           slash = absolutePath.rfind('/');
    std::string_view name  = std::string_view(absolutePath).substr(slash + 1);
    if (name.size() > NAME_MAX) return std::nullopt;
    // The root's own items keep "/" as their folder.
    std::string folder = absolutePath.substr(0, slash == 0 ? 1 : slash);
    return refInFolder(internFolder(folder), name);
}

RefBody refInFolder(uint32_t folder, std::string_view name) noexcept
{
    // Padding included, so that two refs to one item are equal byte for byte.
    RefBody body;
    std::memset(&body, 0, sizeof body);
    body.tag        = kRefTag;
    body.folder     = folder;
    body.nameLength = static_cast<uint16_t>(name.size());
    std::memcpy(body.name, name.data(), name.size());
    return body;
}

void writeRefInFolder(uint32_t folder, std::string_view name, FSRef *ref) noexcept
{
    // What writeRef(refInFolder(folder, name), ref) writes, without the copy
    // in between (a ref need not be aligned for a body).
    auto    *bytes  = reinterpret_cast<unsigned char *>(ref);
    uint32_t tag    = kRefTag;
    auto     length = static_cast<uint16_t>(name.size());
    std::memset(bytes, 0, sizeof *ref);
    std::memcpy(bytes + offsetof(RefBody, tag), &tag, sizeof tag);
    std::memcpy(bytes + offsetof(RefBody, folder), &folder, sizeof folder);
    std::memcpy(bytes + offsetof(RefBody, nameLength), &length, sizeof length);
    std::memcpy(bytes + offsetof(RefBody, name), name.data(), name.size());
}

std::optional<RefBody> readRef(const FSRef *ref, std::shared_ptr<FolderListing> *listing) noexcept
{
    RefBody body;
    std::memcpy(&body, ref, sizeof body);
    if (body.tag != kRefTag || body.nameLength > NAME_MAX) return std::nullopt;
    body.name[body.nameLength] = '\0';

    FolderTable                &table = folderTable();
    std::lock_guard<std::mutex> hold(table.mutex);
    if (body.folder >= table.folders.size()) return std::nullopt;
    if (listing != nullptr) *listing = table.folders[body.folder].listing;
    return body;
}

void writeRef(const RefBody &body, FSRef *ref) noexcept
{
    std::memset(ref, 0, sizeof *ref);
    std::memcpy(ref, &body, sizeof body);
}

std::string folderPath(const RefBody &body)
{
    FolderTable                &table = folderTable();
    std::lock_guard<std::mutex> hold(table.mutex);
    return table.folders[body.folder].path;
}

std::string itemPath(const RefBody &body)
{
    std::string path = folderPath(body);
    if (body.nameLength == 0) return path;
    if (path != "/") path += '/';
    path += body.nameView();
    return path;
}

void registerListing(uint32_t folder, std::shared_ptr<FolderListing> listing) noexcept
{
    FolderTable                &table = folderTable();
    std::lock_guard<std::mutex> hold(table.mutex);
    // The one set aside is still its iterator's, so this is never its last
    // reference.
    table.folders[folder].listing.swap(listing);
}

void withdrawListing(uint32_t folder, const FolderListing *listing) noexcept
{
    // The listing set aside may be the last reference: drop it after the
    // mutex is released, as its destructor closes a stream.
    std::shared_ptr<FolderListing> withdrawn;
    FolderTable                   &table = folderTable();
    std::lock_guard<std::mutex>    hold(table.mutex);
    if (table.folders[folder].listing.get() == listing)
        withdrawn.swap(table.folders[folder].listing);
}

} // namespace vz
