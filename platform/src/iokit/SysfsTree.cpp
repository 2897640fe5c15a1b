// SysfsTree.cpp: bounded reads of a sysfs-shaped folder.
#include "SysfsTree.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vz {

namespace {

// The NUL-terminated form of name, or of name "/" leaf, for the system
// calls, built without allocating; empty (a name nothing has) when it would
// be longer than a path can be. The tree's folder itself is ".".
class CallPath {
  public:
    CallPath(std::string_view name, std::string_view leaf) noexcept
    {
        if (name.empty() && leaf.empty()) name = ".";
        size_t length = name.size() + (leaf.empty() ? 0 : 1 + leaf.size());
        text_[0]      = '\0';
        if (length >= sizeof text_) return;
        std::copy(name.begin(), name.end(), text_);
        if (!leaf.empty()) {
            text_[name.size()] = '/';
            std::copy(leaf.begin(), leaf.end(), text_ + name.size() + 1);
        }
        text_[length] = '\0';
    }
    const char *get() const noexcept { return text_; }

  private:
    char text_[PATH_MAX]; // not cleared: a page of zeros per call costs
};

bool isDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// Adds the components of text to the path, "." and empty ones skipped and
// ".." taking one off; false when ".." would leave the tree.
bool appendComponents(std::string_view text, std::string &path)
{
    while (!text.empty()) {
        size_t           slash = text.find('/');
        std::string_view part  = text.substr(0, slash);
        text.remove_prefix(slash == std::string_view::npos ? text.size() : slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (path.empty()) return false;
            size_t last = path.rfind('/');
            path.resize(last == std::string::npos ? 0 : last);
            continue;
        }
        if (!path.empty()) path += '/';
        path += part;
    }
    return true;
}

} // namespace

SysfsTree::SysfsTree(std::string folder) : folder_(std::move(folder))
{
    while (!folder_.empty() && folder_.back() == '/')
        folder_.pop_back();
    top_.tree_ = this;
    // O_NONBLOCK: a FIFO given as the folder must not wait for a writer.
    top_.fd_ = UniqueFd(::open(folder_.empty() ? "/" : folder_.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
}

SysfsFolder SysfsTree::open(std::string path) const
{
    SysfsFolder folder;
    folder.tree_ = this;
    // O_PATH opens nothing: no FIFO to wait on, no device to wake.
    folder.fd_ = UniqueFd(
        ::openat(top_.fd_.get(), CallPath(path, {}).get(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    folder.path_ = std::move(path);
    return folder;
}

std::optional<std::string> SysfsFolder::read(std::string_view name, std::string_view leaf) const
{
    UniqueFd file(::openat(fd_.get(), CallPath(name, leaf).get(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    // One byte more than an attribute holds tells a longer file apart. The
    // kernel hands an attribute over whole in one read.
    char    buffer[kSysfsAttributeMax + 1];
    ssize_t count = 0;
    do {
        count = ::read(file.get(), buffer, sizeof buffer);
    } while (count < 0 && errno == EINTR);
    if (count < 0 || static_cast<size_t>(count) > kSysfsAttributeMax) return std::nullopt;
    size_t length = static_cast<size_t>(count);
    if (length > 0 && buffer[length - 1] == '\n') --length;
    return std::string(buffer, length);
}

std::optional<std::string> SysfsFolder::linkName(std::string_view name, std::string_view leaf) const
{
    char    text[PATH_MAX];
    ssize_t count = ::readlinkat(fd_.get(), CallPath(name, leaf).get(), text, sizeof text);
    if (count <= 0 || static_cast<size_t>(count) >= sizeof text) return std::nullopt;
    std::string_view target(text, static_cast<size_t>(count));
    while (!target.empty() && target.back() == '/')
        target.remove_suffix(1);
    std::string_view last = lastComponent(target);
    if (last.empty() || last == "." || last == "..") return std::nullopt;
    return std::string(last);
}

std::optional<std::string> SysfsFolder::resolve(std::string_view name, std::string_view leaf) const
{
    char    text[PATH_MAX];
    ssize_t count = ::readlinkat(fd_.get(), CallPath(name, leaf).get(), text, sizeof text);
    if (count < 0 && errno != EINVAL) return std::nullopt;
    std::string resolved = path_;
    if (!appendComponents(name, resolved)) return std::nullopt;
    if (count < 0) // there, and no link
        return appendComponents(leaf, resolved) ? std::optional(std::move(resolved)) : std::nullopt;
    if (count == 0 || static_cast<size_t>(count) >= sizeof text) return std::nullopt;
    std::string_view target(text, static_cast<size_t>(count));
    if (leaf.empty() && !appendComponents("..", resolved)) return std::nullopt;
    if (target.front() == '/') {
        // Only an absolute link into the tree's own folder stays in it.
        const std::string &top = tree_->folder_;
        if (target.substr(0, top.size()) != top) return std::nullopt;
        target.remove_prefix(top.size());
        if (!target.empty() && target.front() != '/') return std::nullopt;
        resolved.clear();
    }
    if (!appendComponents(target, resolved)) return std::nullopt;
    return resolved;
}

bool SysfsFolder::isFolder(std::string_view name) const noexcept
{
    struct stat info;
    return ::fstatat(fd_.get(), CallPath(name, {}).get(), &info, 0) == 0 && S_ISDIR(info.st_mode);
}

bool SysfsFolder::exists(std::string_view name) const noexcept
{
    struct stat info;
    return ::fstatat(fd_.get(), CallPath(name, {}).get(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::string> SysfsFolder::list(std::string_view name) const
{
    std::vector<std::string> names;
    int                      folder = ::openat(fd_.get(), CallPath(name, {}).get(),
                                               O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (folder < 0) return names;
    DIR *stream = ::fdopendir(folder);
    if (stream == nullptr) {
        ::close(folder);
        return names;
    }
    // Closes the stream (and its descriptor) even when a name cannot be kept.
    struct Closer {
        DIR *stream;
        ~Closer() { ::closedir(stream); }
    } closer{stream};
    while (names.size() < kSysfsListMax) {
        const dirent *entry = ::readdir(stream);
        if (entry == nullptr) break;
        std::string_view entryName(entry->d_name);
        if (entryName == "." || entryName == "..") continue;
        names.emplace_back(entryName);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return naturalLess(a, b); });
    return names;
}

std::string_view lastComponent(std::string_view path) noexcept
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parentOf(std::string_view path) noexcept
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

bool naturalLess(std::string_view a, std::string_view b) noexcept
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the numbers: leading zeros aside, the longer run is the
            // larger number, and runs of one length compare digit by digit.
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            size_t endA = i, endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j) return endA - i < endB - j;
            int order = a.substr(i, endA - i).compare(b.substr(j, endB - j));
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i == a.size() && j == b.size()) return a < b; // equal but for leading zeros
    return i == a.size();
}

} // namespace vz
