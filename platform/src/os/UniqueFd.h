// UniqueFd.h: an owned file descriptor.
//
// Move-only; the destructor closes best effort. Code that must know whether
// the close worked (a file just written) calls closeChecked() instead, which
// reports the close's errno. A close interrupted by a signal is not retried
// and not a failure: on this system the descriptor is released either way,
// and retrying could close a descriptor another thread has just been given;
// the data's durability was settled by the fsync before it.
#ifndef VZ_PLATFORM_UNIQUEFD_H
#define VZ_PLATFORM_UNIQUEFD_H

#include "Syscalls.h"

#include <cerrno>
#include <utility>

namespace vz {

class UniqueFd {
  public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd &)            = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int  get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    void reset() noexcept
    {
        if (fd_ >= 0) (void)sys::close(fd_);
        fd_ = -1;
    }
    // Hands the descriptor over to the caller, who closes it.
    [[nodiscard]] int releaseDescriptor() noexcept { return std::exchange(fd_, -1); }
    // 0, or the errno of a failed close. The descriptor is gone either way.
    [[nodiscard]] int closeChecked() noexcept
    {
        int fd = std::exchange(fd_, -1);
        if (fd < 0 || sys::close(fd) == 0 || errno == EINTR) return 0;
        return errno;
    }

  private:
    int fd_ = -1;
};

} // namespace vz

#endif
