// Root.cpp: the root folder of the platform's files.
#include "Root.h"

#include <cstdlib>
#include <vector>

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

bool resolveUnderRoot(std::string_view relative, std::string *path)
{
    std::vector<std::string_view> kept;
    while (!relative.empty()) {
        size_t           slash     = relative.find('/');
        std::string_view component = relative.substr(0, slash);
        relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (kept.empty()) return false;
            kept.pop_back();
            continue;
        }
        kept.push_back(component);
    }
    std::string result = rootDirectory();
    for (std::string_view component : kept) {
        result += '/';
        result += component;
    }
    if (kept.empty()) result += '/';
    *path = std::move(result);
    return true;
}

} // namespace vz
