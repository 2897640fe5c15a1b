// BusResult.h: what a call on the bus answers when it fails, the result type
// that carries either a value or that failure, and the deadline that bounds
// every wait.
//
// A failure is the transport's (an errno: no bus, a bus that closed,
// ETIMEDOUT for a deadline that passed), the peer's (an error reply, with its
// name and message), or EBADMSG for a reply whose type is not the one the
// caller asked for. Nothing here throws but std::bad_alloc.
#ifndef VZ_PLATFORM_BUSRESULT_H
#define VZ_PLATFORM_BUSRESULT_H

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vz::bus {

// Error names of the bus daemon that callers tell apart.
inline constexpr std::string_view kErrorServiceUnknown =
    "org.freedesktop.DBus.Error.ServiceUnknown";
inline constexpr std::string_view kErrorNameHasNoOwner =
    "org.freedesktop.DBus.Error.NameHasNoOwner";
inline constexpr std::string_view kErrorUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr std::string_view kErrorUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";

struct Error {
    int         code = 0; // a positive errno (for an error reply, the one its name maps to)
    std::string name;     // the error's name, when it has one
    std::string message;  // the reply's message, or what the transport said

    // Nobody owns the destination's name: the service is not running.
    bool isServiceMissing() const noexcept
    {
        return name == kErrorServiceUnknown || name == kErrorNameHasNoOwner;
    }
    // The object or method asked for is not there (an object that went away).
    bool isObjectMissing() const noexcept
    {
        return name == kErrorUnknownObject || name == kErrorUnknownMethod;
    }
    bool isTimeout() const noexcept { return code == ETIMEDOUT; }
    // One line for people: "NAME: MESSAGE", or the message alone.
    std::string text() const;
};

// A value or the failure that stopped it. Check it before use: reading the
// value of a failed result is a programming error.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}
    explicit     operator bool() const noexcept { return value_.has_value(); }
    T           &operator*() { return *value_; }
    const T     &operator*() const { return *value_; }
    T           *operator->() { return &*value_; }
    const T     *operator->() const { return &*value_; }
    const Error &error() const noexcept { return error_; }

  private:
    std::optional<T> value_;
    Error            error_;
};

// A point in time after which no call waits. Calls made under one deadline
// share its budget: the second of two calls gets what the first left.
class Deadline {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Deadline(Clock::time_point end) noexcept : end_(end) {}
    static Deadline after(std::chrono::milliseconds budget) noexcept
    {
        return Deadline(Clock::now() + budget);
    }
    bool passed() const noexcept { return Clock::now() >= end_; }
    // What is left, in microseconds (0 once passed), at most cap.
    uint64_t remainingMicroseconds(std::chrono::microseconds cap) const noexcept;

  private:
    Clock::time_point end_;
};

} // namespace vz::bus

#endif
