// SysfsTree.h: a sysfs-shaped folder read as untrusted input.
//
// The kernel's device tree is read like any other input: a file may be
// missing, unreadable, a FIFO or endless, a link may lead nowhere, out of the
// tree or round in a loop, and a device may go away between two reads. Every
// call here is bounded and answers "nothing" rather than block or fail hard:
//
//   * an attribute is one read of at most kSysfsAttributeMax bytes from a
//     file opened without following a final link and without blocking (a
//     FIFO reads as empty, a device node never becomes a controlling
//     terminal); a longer file is no attribute;
//   * where a link leads is worked out from its text alone, against the
//     folder that holds it, and a link out of the tree leads nowhere: the
//     kernel's own links are relative and point straight at their target,
//     so no link is chased into another. A read through a link
//     ("device/driver") leaves the following to the kernel, which gives up
//     on a loop at its own limit;
//   * a folder yields at most kSysfsListMax names.
//
// Paths are relative to the tree's folder ("" is the folder itself) and
// contain no "." or ".." once resolve() made them. A link is resolved
// against the folder that holds it, so that folder's path must be one
// resolve() handed out (or a real folder of the tree), never one that passes
// through another link.
#ifndef VZ_PLATFORM_SYSFSTREE_H
#define VZ_PLATFORM_SYSFSTREE_H

#include "UniqueFd.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vz {

// One page: no sysfs attribute holds more.
inline constexpr size_t kSysfsAttributeMax = 4096;
// More names than any real device folder or class holds.
inline constexpr size_t kSysfsListMax = 65536;

class SysfsTree;

// A folder of the tree, held open: the names in it, and paths through its
// links ("device/driver", "device/../product"), are reached without the
// kernel walking the folder's own path again. Every call names its target
// as name, or as name "/" leaf when leaf is not empty (which spares the
// caller building the path). A final link is never followed but by
// resolve() and isFolder().
class SysfsFolder {
  public:
    SysfsFolder() = default; // none: every read finds nothing
    bool               valid() const noexcept { return fd_.valid(); }
    const std::string &path() const noexcept { return path_; }

    // The attribute's text without its final newline; nullopt when it is
    // missing, unreadable, not a file that reads without blocking, or longer
    // than kSysfsAttributeMax.
    std::optional<std::string> read(std::string_view name, std::string_view leaf = {}) const;
    // The last component of the link's text (a driver's or subsystem's name);
    // nullopt when it is no readable link.
    std::optional<std::string> linkName(std::string_view name, std::string_view leaf = {}) const;
    // Where the target leads, as a path of the tree: the link's target, or
    // the target's own path when it is no link; nullopt when there is nothing
    // there or the link leads out of the tree. The components before the
    // last must be real folders.
    std::optional<std::string> resolve(std::string_view name, std::string_view leaf = {}) const;
    // Whether a folder is there (links followed).
    bool isFolder(std::string_view name) const noexcept;
    // Whether anything is there (a final link not followed).
    bool exists(std::string_view name) const noexcept;
    // The names in the folder there ("." and ".." aside) in natural order
    // (naturalLess); none when it cannot be listed.
    std::vector<std::string> list(std::string_view name) const;

    // All but isFolder() and exists() may throw std::bad_alloc.

  private:
    friend class SysfsTree;
    const SysfsTree *tree_ = nullptr;
    std::string      path_;
    UniqueFd         fd_;
};

class SysfsTree {
  public:
    // The tree at folder (an absolute or working-folder path). When the
    // folder cannot be opened the tree is empty: every read finds nothing.
    explicit SysfsTree(std::string folder); // may throw std::bad_alloc
    SysfsTree(const SysfsTree &)            = delete;
    SysfsTree &operator=(const SysfsTree &) = delete;

    // The tree's own folder.
    const SysfsFolder &top() const noexcept { return top_; }
    // The folder at path, a path of the tree with no link in it (such as
    // resolve() hands out); an invalid folder when none is there.
    SysfsFolder open(std::string path) const; // may throw std::bad_alloc

  private:
    friend class SysfsFolder;
    std::string folder_; // as given, without a trailing "/"
    SysfsFolder top_;
};

// The last component of path, and what comes before it ("" for a single
// component).
std::string_view lastComponent(std::string_view path) noexcept;
std::string_view parentOf(std::string_view path) noexcept;

// Name order with runs of digits compared as numbers, so that "ttyS2" comes
// before "ttyS10" and "eth9" before "eth10".
bool naturalLess(std::string_view a, std::string_view b) noexcept;

} // namespace vz

#endif
