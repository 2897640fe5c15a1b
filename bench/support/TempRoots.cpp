// TempRoots.cpp: the roots made so far, by kind and key; the table's
// destructor removes them at exit.
#include "TempRoots.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>

namespace vzbench {

namespace {

struct Roots {
    std::map<std::pair<std::string, int64_t>, std::string> byKey;
    ~Roots()
    {
        std::error_code ignored;
        for (auto &[key, root] : byKey)
            std::filesystem::remove_all(root, ignored);
    }
};

} // namespace

const std::string &TempRootFor(const std::string &kind, int64_t key,
                               const std::function<void(const std::string &root)> &fill)
{
    static Roots roots;
    auto         found = roots.byKey.find({kind, key});
    if (found != roots.byKey.end()) return found->second;
    std::string root =
        (std::filesystem::temp_directory_path() / ("vz-bench-" + kind + "-XXXXXX")).string();
    if (mkdtemp(root.data()) == nullptr) std::abort();
    std::string &kept = roots.byKey[{kind, key}] = root;
    fill(kept);
    return kept;
}

} // namespace vzbench
