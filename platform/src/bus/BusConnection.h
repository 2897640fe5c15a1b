// BusConnection.h: a client of the system bus, the one place of the platform
// that speaks the bus's protocol.
//
// A Connection owns one connection to the system bus (the bus that
// DBUS_SYSTEM_BUS_ADDRESS names, else the machine's own). Opening it costs no
// wait: the handshake with the bus is finished by the first call, within that
// call's deadline. Every call is bounded twice: by the deadline its caller
// gives (shared by every call of one operation) and by kMaxCallTimeout.
// Calls never start a service that is not running (no activation): a
// service that is not on the bus is an answer, not a reason to wait.
//
// Every reply is checked against the signature the caller expects before a
// value is read from it; a reply of another type is EBADMSG. A connection
// whose transport failed (the bus closed, a call timed out) answers every
// later call with ENOTCONN; open a new one.
//
// callSystemBus() goes through one connection kept for the whole process and
// opened on first use. It is replaced after a transport failure, and in the
// child of a fork (a connection belongs to the process that opened it).
// Calls through it are serialised. VZFlushPlatformCaches() closes it.
#ifndef VZ_PLATFORM_BUSCONNECTION_H
#define VZ_PLATFORM_BUSCONNECTION_H

#include "BusResult.h"
#include "BusValue.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

struct sd_bus;

namespace vz::bus {

// No call waits longer than this, whatever its deadline.
inline constexpr std::chrono::minutes kMaxCallTimeout{2};

struct MethodCall {
    std::string_view destination; // a well-known name
    std::string_view path;
    std::string_view interface;
    std::string_view member;
};

// A reply's body: its values in order.
using Body = std::vector<Value>;

class Connection {
  public:
    // A new connection to the system bus; the transport's failure when there
    // is no bus to connect to.
    static Result<Connection> openSystem();
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &)            = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection();

    // Calls the method with the arguments and waits for the reply within the
    // deadline. The reply's body must have replySignature ("" for none). May
    // throw std::bad_alloc.
    Result<Body> call(const MethodCall &method, const std::vector<Value> &arguments,
                      std::string_view replySignature, const Deadline &deadline);

    // Whether the transport is still usable.
    bool isOpen() const noexcept;

  private:
    explicit Connection(sd_bus *bus) noexcept : bus_(bus) {}
    Result<bool> waitUntilReady(const Deadline &deadline);
    void         close() noexcept;

    sd_bus *bus_ = nullptr;
};

// Connection::call() through the process's kept connection to the system
// bus. May throw std::bad_alloc.
Result<Body> callSystemBus(const MethodCall &method, const std::vector<Value> &arguments,
                           std::string_view replySignature, const Deadline &deadline);

// The typed readers of the standard interfaces, through callSystemBus():
// one property (org.freedesktop.DBus.Properties.Get; the value inside the
// variant), all of an interface's properties (GetAll), and an object
// manager's listing (org.freedesktop.DBus.ObjectManager.GetManagedObjects).
// May throw std::bad_alloc.
Result<Value>       getProperty(std::string_view destination, std::string_view path,
                                std::string_view interface, std::string_view name,
                                const Deadline &deadline);
Result<PropertyMap> getAllProperties(std::string_view destination, std::string_view path,
                                     std::string_view interface, const Deadline &deadline);
Result<ObjectMap>   getManagedObjects(std::string_view destination, std::string_view path,
                                      const Deadline &deadline);

} // namespace vz::bus

#endif
