// FileRefs.cpp: ref bodies and the folder table.
//
// Invariants: an index handed out stays valid and keeps naming the same
// path for the life of the process; entries are only ever added, under the
// mutex, and read under it.
#include "FileRefs.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace vz {

namespace {

constexpr uint32_t kRefTag = 0x46535266; // "FSRf"

struct FolderTable {
    std::mutex                                mutex;
    std::vector<std::string>                  paths;
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
    auto index = static_cast<uint32_t>(table.paths.size());
    table.paths.push_back(folderPath);
    try {
        table.indexes.emplace(folderPath, index);
    } catch (...) {
        table.paths.pop_back();
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

std::optional<RefBody> readRef(const FSRef *ref) noexcept
{
    RefBody body;
    std::memcpy(&body, ref, sizeof body);
    if (body.tag != kRefTag || body.nameLength > NAME_MAX) return std::nullopt;
    FolderTable                &table = folderTable();
    std::lock_guard<std::mutex> hold(table.mutex);
    if (body.folder >= table.paths.size()) return std::nullopt;
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
    return table.paths[body.folder];
}

std::string itemPath(const RefBody &body)
{
    std::string path = folderPath(body);
    if (body.nameLength == 0) return path;
    if (path != "/") path += '/';
    path += body.nameView();
    return path;
}

} // namespace vz
