// Root.cpp: the root folder of the platform's files.
#include "Root.h"

#include "Runtime.h"

#include <VZPlatformTools.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vz {

std::string rootDirectory()
{
    const char *value = std::getenv("VAVIVAZ_ROOT");
    std::string root  = value != nullptr ? value : "";
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root;
}

std::string pathUnderRoot(std::string_view relative)
{
    while (!relative.empty() && relative.front() == '/')
        relative.remove_prefix(1);
    std::string path = rootDirectory();
    path += '/';
    path += relative;
    return path;
}

} // namespace vz

static_assert(std::string_view(kVZRegistrySnapshotFile) == vz::kRegistrySnapshotFile);

char *VZCopyPathUnderRoot(const char *relative) noexcept
{
    if (relative == nullptr) return nullptr;
    return vz::guarded<char *>(nullptr, [&]() -> char * {
        std::string path = vz::pathUnderRoot(relative);
        char       *copy = static_cast<char *>(std::malloc(path.size() + 1));
        if (copy != nullptr) std::memcpy(copy, path.c_str(), path.size() + 1);
        return copy;
    });
}
