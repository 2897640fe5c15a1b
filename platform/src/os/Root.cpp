// Root.cpp: the root folder of the platform's files.
#include "Root.h"

#include <cstdlib>

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
