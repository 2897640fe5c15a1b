// Root.cpp: the root folder of the platform's files, and the live rule.
#include "Root.h"

#include "Runtime.h"

#include <VZPlatformTools.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#ifndef VZ_MACHINE_ROOT
#error "VZ_MACHINE_ROOT, the machine's root folder, is set by the build"
#endif

namespace vz {

namespace {

std::string withoutTrailingSlashes(std::string path)
{
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

const char *machineRootDirectory() noexcept
{
    return VZ_MACHINE_ROOT;
}

std::string_view rootDirectoryView() noexcept
{
    const char      *value = std::getenv("VAVIVAZ_ROOT");
    std::string_view root(value != nullptr && *value != '\0' ? value : VZ_MACHINE_ROOT);
    while (!root.empty() && root.back() == '/')
        root.remove_suffix(1);
    return root;
}

std::string rootDirectory()
{
    return std::string(rootDirectoryView());
}

bool isLiveRoot()
{
    const char *live = std::getenv("VAVIVAZ_LIVE");
    if (live != nullptr && std::string_view(live) == "0") return false;
    if (live != nullptr && std::string_view(live) == "1") return true;
    // The same folder named another way ("/var/lib/vavivaz/", "/var//lib/...")
    // is still the machine's root.
    auto normal = [](const std::string &path) {
        return withoutTrailingSlashes(std::filesystem::path(path).lexically_normal().string());
    };
    return normal(rootDirectory()) == normal(VZ_MACHINE_ROOT);
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
