// UnderRoot.cpp: resolving a caller's path under the root.
#include "UnderRoot.h"

#include "Root.h"

#include <vector>

namespace vz {

std::optional<std::string> pathUnderRootChecked(std::string_view callerPath)
{
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
