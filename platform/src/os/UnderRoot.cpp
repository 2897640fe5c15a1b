// UnderRoot.cpp: resolving a caller's path under the root.
#include "UnderRoot.h"

#include "Root.h"

#include <vector>

namespace vz {

namespace {

// Whether the path's components are all plain names: no empty component
// (a doubled or leading slash), no "." and no "..". Such a path is joined to
// the root as it is.
bool isPlainPath(std::string_view path) noexcept
{
    if (path.empty()) return false;
    size_t start = 0;
    while (true) {
        size_t           end       = path.find('/', start);
        std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

} // namespace

std::optional<std::string> pathUnderRootChecked(std::string_view callerPath)
{
    // Every session of the stores passes here: the usual path, plain names
    // after at most one slash, is joined to the root as it is.
    std::string_view relative = callerPath;
    if (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
    if (isPlainPath(relative)) {
        std::string_view root = rootDirectoryView();
        std::string      path;
        path.reserve(root.size() + 1 + relative.size());
        path += root;
        path += '/';
        path += relative;
        return path;
    }
    std::vector<std::string_view> components;
    size_t                        start = 0;
    while (start <= callerPath.size()) {
        size_t end = callerPath.find('/', start);
        if (end == std::string_view::npos) end = callerPath.size();
        std::string_view component = callerPath.substr(start, end - start);
        start                      = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (components.empty()) return std::nullopt;
            components.pop_back();
            continue;
        }
        components.push_back(component);
    }
    std::string path = rootDirectory();
    for (std::string_view component : components) {
        path += '/';
        path += component;
    }
    // The root / itself (push_back, as the assignment of "/" draws a false
    // -Wrestrict warning from GCC 12 at Release optimisation).
    if (path.empty()) path.push_back('/');
    return path;
}

bool isSinglePathComponent(std::string_view text) noexcept
{
    return !text.empty() && text != "." && text != ".." &&
           text.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

} // namespace vz
