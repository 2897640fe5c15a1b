// BusConnection.cpp: connections to the system bus, calls with deadlines, and
// the reading and writing of message bodies.
#include "BusConnection.h"

#include "LiveObjects.h"

#include <systemd/sd-bus.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <type_traits>
#include <unistd.h>

namespace vz::bus {

namespace {

constexpr std::string_view kPropertiesInterface    = "org.freedesktop.DBus.Properties";
constexpr std::string_view kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";

Error transportError(int negativeErrno, std::string what)
{
    Error error;
    error.code    = -negativeErrno;
    error.message = std::move(what) + ": " + std::strerror(-negativeErrno);
    return error;
}

// ---- the library -------------------------------------------------------------

// libsystemd is loaded when the first connection is made, not when a program
// starts: most runs of the commands and the probe never touch the bus, and
// loading it and the libraries it needs costs every process start about half
// a millisecond. Every call below goes through this table, filled once.
struct Library {
    decltype(&::sd_bus_call)                    call                    = nullptr;
    decltype(&::sd_bus_close_unref)             close_unref             = nullptr;
    decltype(&::sd_bus_error_free)              error_free              = nullptr;
    decltype(&::sd_bus_is_open)                 is_open                 = nullptr;
    decltype(&::sd_bus_is_ready)                is_ready                = nullptr;
    decltype(&::sd_bus_message_append_basic)    message_append_basic    = nullptr;
    decltype(&::sd_bus_message_close_container) message_close_container = nullptr;
    decltype(&::sd_bus_message_enter_container) message_enter_container = nullptr;
    decltype(&::sd_bus_message_exit_container)  message_exit_container  = nullptr;
    decltype(&::sd_bus_message_get_signature)   message_get_signature   = nullptr;
    decltype(&::sd_bus_message_new_method_call) message_new_method_call = nullptr;
    decltype(&::sd_bus_message_open_container)  message_open_container  = nullptr;
    decltype(&::sd_bus_message_peek_type)       message_peek_type       = nullptr;
    decltype(&::sd_bus_message_read_basic)      message_read_basic      = nullptr;
    decltype(&::sd_bus_message_set_auto_start)  message_set_auto_start  = nullptr;
    decltype(&::sd_bus_message_unref)           message_unref           = nullptr;
    decltype(&::sd_bus_open_system)             open_system             = nullptr;
    decltype(&::sd_bus_process)                 process                 = nullptr;
    decltype(&::sd_bus_wait)                    wait                    = nullptr;
    bool                                        loaded                  = false;
};

const Library &loadLibrary() noexcept
{
    static const Library library = [] {
        Library library;
        void   *handle = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return library;
        bool complete = true;
        auto resolve  = [&](auto &function, const char *name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            complete = complete && function != nullptr;
        };
        resolve(library.call, "sd_bus_call");
        resolve(library.close_unref, "sd_bus_close_unref");
        resolve(library.error_free, "sd_bus_error_free");
        resolve(library.is_open, "sd_bus_is_open");
        resolve(library.is_ready, "sd_bus_is_ready");
        resolve(library.message_append_basic, "sd_bus_message_append_basic");
        resolve(library.message_close_container, "sd_bus_message_close_container");
        resolve(library.message_enter_container, "sd_bus_message_enter_container");
        resolve(library.message_exit_container, "sd_bus_message_exit_container");
        resolve(library.message_get_signature, "sd_bus_message_get_signature");
        resolve(library.message_new_method_call, "sd_bus_message_new_method_call");
        resolve(library.message_open_container, "sd_bus_message_open_container");
        resolve(library.message_peek_type, "sd_bus_message_peek_type");
        resolve(library.message_read_basic, "sd_bus_message_read_basic");
        resolve(library.message_set_auto_start, "sd_bus_message_set_auto_start");
        resolve(library.message_unref, "sd_bus_message_unref");
        resolve(library.open_system, "sd_bus_open_system");
        resolve(library.process, "sd_bus_process");
        resolve(library.wait, "sd_bus_wait");
        library.loaded = complete; // the handle stays open for the process's life
        return library;
    }();
    return library;
}

// The table; every call but the first connection's is made on a connection,
// so after the library was loaded.
const Library &sd() noexcept
{
    return loadLibrary();
}

// Frees a message and an error at the end of a scope.
struct MessageRef {
    sd_bus_message *message = nullptr;
    ~MessageRef()
    {
        if (message != nullptr) sd().message_unref(message);
    }
};
struct ErrorRef {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ErrorRef()
    {
        if (sd().loaded) sd().error_free(&error);
    }
};

// ---- reading -----------------------------------------------------------------

template <typename T> int readBasic(sd_bus_message *message, char type, T *value)
{
    return sd().message_read_basic(message, type, value);
}

// Reads the next complete value of the message; 0 at the end of the body or
// of the container being read, 1 with the value, or a negative errno.
int readValue(sd_bus_message *message, Value *out)
{
    char        type     = 0;
    const char *contents = nullptr;
    int         r        = sd().message_peek_type(message, &type, &contents);
    if (r <= 0) return r;
    switch (type) {
    case 'y': {
        uint8_t v = 0;
        r         = readBasic(message, type, &v);
        *out      = Value::byte(v);
        break;
    }
    case 'b': {
        int v = 0;
        r     = readBasic(message, type, &v);
        *out  = Value::boolean(v != 0);
        break;
    }
    case 'n': {
        int16_t v = 0;
        r         = readBasic(message, type, &v);
        *out = Value::basic(Value::Kind::Int16, static_cast<uint64_t>(static_cast<int64_t>(v)));
        break;
    }
    case 'q': {
        uint16_t v = 0;
        r          = readBasic(message, type, &v);
        *out       = Value::basic(Value::Kind::UInt16, v);
        break;
    }
    case 'i': {
        int32_t v = 0;
        r         = readBasic(message, type, &v);
        *out      = Value::int32(v);
        break;
    }
    case 'u': {
        uint32_t v = 0;
        r          = readBasic(message, type, &v);
        *out       = Value::uint32(v);
        break;
    }
    case 'x': {
        int64_t v = 0;
        r         = readBasic(message, type, &v);
        *out      = Value::int64(v);
        break;
    }
    case 't': {
        uint64_t v = 0;
        r          = readBasic(message, type, &v);
        *out       = Value::uint64(v);
        break;
    }
    case 'd': {
        double v = 0;
        r        = readBasic(message, type, &v);
        *out     = Value::real(v);
        break;
    }
    case 's':
    case 'o':
    case 'g': {
        const char *v = nullptr;
        r             = readBasic(message, type, &v);
        if (r <= 0) break;
        *out = type == 's'   ? Value::string(v)
               : type == 'o' ? Value::objectPath(v)
                             : Value::signatureText(v);
        break;
    }
    case SD_BUS_TYPE_ARRAY:
    case SD_BUS_TYPE_STRUCT:
    case SD_BUS_TYPE_DICT_ENTRY:
    case SD_BUS_TYPE_VARIANT: {
        r = sd().message_enter_container(message, type, contents);
        if (r <= 0) break;
        std::vector<Value> items;
        for (;;) {
            Value item;
            r = readValue(message, &item);
            if (r <= 0) break;
            items.push_back(std::move(item));
        }
        if (r < 0) break;
        r = sd().message_exit_container(message);
        if (r < 0) break;
        if (type == SD_BUS_TYPE_ARRAY)
            *out = Value::array(contents, std::move(items));
        else if (type == SD_BUS_TYPE_STRUCT)
            *out = Value::structure(std::move(items));
        else if (type == SD_BUS_TYPE_DICT_ENTRY && items.size() == 2)
            *out = Value::entry(std::move(items[0]), std::move(items[1]));
        else if (type == SD_BUS_TYPE_VARIANT && items.size() == 1)
            *out = Value::variant(std::move(items[0]));
        else
            return -EBADMSG;
        r = 1;
        break;
    }
    default:
        // File descriptors: no service the platform talks to sends one, and
        // taking one would mean owning it.
        return -EBADMSG;
    }
    return r < 0 ? r : 1;
}

// ---- writing -----------------------------------------------------------------

int appendValue(sd_bus_message *message, const Value &value)
{
    char type = static_cast<char>(value.kind());
    switch (value.kind()) {
    case Value::Kind::Byte: {
        uint8_t v = *value.asByte();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::Boolean: {
        int v = *value.asBoolean() ? 1 : 0;
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::Int32: {
        int32_t v = *value.asInt32();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::UInt32: {
        uint32_t v = *value.asUInt32();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::Int64: {
        int64_t v = *value.asInt64();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::UInt64: {
        uint64_t v = *value.asUInt64();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::Double: {
        double v = *value.asDouble();
        return sd().message_append_basic(message, type, &v);
    }
    case Value::Kind::Int16:
    case Value::Kind::UInt16:
        // Read from messages only; nothing the platform sends has them.
        return -EINVAL;
    case Value::Kind::String:
        return sd().message_append_basic(message, type, value.asString()->c_str());
    case Value::Kind::ObjectPath:
        return sd().message_append_basic(message, type, value.asObjectPath()->c_str());
    case Value::Kind::Signature:
        return -EINVAL;
    case Value::Kind::Array:
    case Value::Kind::Struct:
    case Value::Kind::DictEntry:
    case Value::Kind::Variant: {
        const std::string &signature = value.signature();
        std::string        contents =
            value.kind() == Value::Kind::Variant ? value.items().front().signature()
                   : value.kind() == Value::Kind::Array ? signature.substr(1)
                                                        : signature.substr(1, signature.size() - 2);
        int r = sd().message_open_container(message, type, contents.c_str());
        for (size_t i = 0; r >= 0 && i < value.items().size(); i++)
            r = appendValue(message, value.items()[i]);
        return r < 0 ? r : sd().message_close_container(message);
    }
    }
    return -EINVAL;
}

std::string methodName(const MethodCall &method)
{
    return std::string(method.interface) + "." + std::string(method.member);
}

} // namespace

// ---- results -----------------------------------------------------------------

std::string Error::text() const
{
    if (name.empty()) return message;
    if (message.empty()) return name;
    return name + ": " + message;
}

uint64_t Deadline::remainingMicroseconds(std::chrono::microseconds cap) const noexcept
{
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(end_ - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<uint64_t>(std::min(left, cap).count());
}

// ---- connections -------------------------------------------------------------

Result<Connection> Connection::openSystem()
{
    if (!loadLibrary().loaded)
        return transportError(-ELIBACC, "cannot load libsystemd.so.0 for the system bus");
    sd_bus *bus = nullptr;
    int     r   = sd().open_system(&bus);
    if (r < 0) return transportError(r, "cannot connect to the system bus");
    return Connection(bus);
}

Connection::Connection(Connection &&other) noexcept : bus_(other.bus_)
{
    other.bus_ = nullptr;
}

Connection &Connection::operator=(Connection &&other) noexcept
{
    if (this != &other) {
        close();
        bus_       = other.bus_;
        other.bus_ = nullptr;
    }
    return *this;
}

Connection::~Connection()
{
    close();
}

void Connection::close() noexcept
{
    // Without a flush: a bus that stopped reading must not hold the caller.
    if (bus_ != nullptr) sd().close_unref(bus_);
    bus_ = nullptr;
}

bool Connection::isOpen() const noexcept
{
    return bus_ != nullptr && sd().is_open(bus_) > 0;
}

// sd-bus finishes the handshake (authentication, the bus's Hello) inside its
// first call with a wait of its own that the call's timeout does not bound;
// a bus that accepted the connection and then stopped answering would hold
// that call far beyond its deadline. The handshake is finished here instead.
Result<bool> Connection::waitUntilReady(const Deadline &deadline)
{
    for (;;) {
        int r = sd().is_ready(bus_);
        if (r > 0) return true;
        if (r < 0) return transportError(r, "the system bus connection failed");
        r = sd().process(bus_, nullptr);
        if (r < 0) return transportError(r, "the system bus connection failed");
        if (r > 0) continue;
        uint64_t wait = deadline.remainingMicroseconds(kMaxCallTimeout);
        if (wait == 0) return transportError(-ETIMEDOUT, "the system bus did not answer");
        r = sd().wait(bus_, wait);
        if (r < 0) return transportError(r, "the system bus connection failed");
    }
}

Result<Body> Connection::call(const MethodCall &method, const std::vector<Value> &arguments,
                              std::string_view replySignature, const Deadline &deadline)
{
    if (bus_ == nullptr) return transportError(-ENOTCONN, "no connection to the system bus");
    std::string destination(method.destination), path(method.path), interface(method.interface),
        member(method.member);
    MessageRef request;
    int r = sd().message_new_method_call(bus_, &request.message, destination.c_str(), path.c_str(),
                                         interface.c_str(), member.c_str());
    if (r >= 0) r = sd().message_set_auto_start(request.message, 0);
    for (size_t i = 0; r >= 0 && i < arguments.size(); i++)
        r = appendValue(request.message, arguments[i]);
    if (r < 0) return transportError(r, "cannot make the call " + methodName(method));

    Result<bool> ready = waitUntilReady(deadline);
    if (!ready) return ready.error();
    uint64_t timeout = deadline.remainingMicroseconds(kMaxCallTimeout);
    if (timeout == 0)
        return transportError(-ETIMEDOUT, methodName(method) + " was not answered in time");

    MessageRef reply;
    ErrorRef   failure;
    r = sd().call(bus_, request.message, timeout, &failure.error, &reply.message);
    if (r < 0) {
        Error error;
        error.code = -r;
        if (failure.error.name != nullptr) error.name = failure.error.name;
        error.message =
            failure.error.message != nullptr ? failure.error.message : std::strerror(-r);
        return error;
    }
    const char *signature = sd().message_get_signature(reply.message, true);
    if (signature == nullptr || replySignature != signature) {
        Error error;
        error.code    = EBADMSG;
        error.message = "the reply to " + methodName(method) + " has the type \"" +
                        (signature != nullptr ? signature : "") + "\", not \"" +
                        std::string(replySignature) + "\"";
        return error;
    }
    Body body;
    for (;;) {
        Value value;
        r = readValue(reply.message, &value);
        if (r <= 0) break;
        body.push_back(std::move(value));
    }
    if (r < 0) return transportError(r, "cannot read the reply to " + methodName(method));
    return body;
}

// ---- the process's connection ------------------------------------------------

namespace {

struct Kept {
    std::mutex                mutex;
    std::optional<Connection> connection;
    pid_t                     owner = 0;
};

void closeKept();

Kept &kept()
{
    static Kept *instance = [] {
        registerCacheFlusher(closeKept);
        return new Kept; // never destroyed: a call may come during static destruction
    }();
    return *instance;
}

void closeKept()
{
    std::lock_guard<std::mutex> hold(kept().mutex);
    kept().connection.reset();
}

} // namespace

Result<Body> callSystemBus(const MethodCall &method, const std::vector<Value> &arguments,
                           std::string_view replySignature, const Deadline &deadline)
{
    Kept                       &k = kept();
    std::lock_guard<std::mutex> hold(k.mutex);
    if (k.connection && (k.owner != getpid() || !k.connection->isOpen())) k.connection.reset();
    if (!k.connection) {
        Result<Connection> opened = Connection::openSystem();
        if (!opened) return opened.error();
        k.connection.emplace(std::move(*opened));
        k.owner = getpid();
    }
    Result<Body> reply = k.connection->call(method, arguments, replySignature, deadline);
    // A reply that did not come in time may still come, to a call nobody
    // waits for; the next call starts on a fresh connection.
    if (!reply && reply.error().isTimeout()) k.connection.reset();
    return reply;
}

Result<Value> getProperty(std::string_view destination, std::string_view path,
                          std::string_view interface, std::string_view name,
                          const Deadline &deadline)
{
    Result<Body> reply = callSystemBus(
        {destination, path, kPropertiesInterface, "Get"},
        {Value::string(std::string(interface)), Value::string(std::string(name))}, "v", deadline);
    if (!reply) return reply.error();
    return *reply->front().unwrapped();
}

Result<PropertyMap> getAllProperties(std::string_view destination, std::string_view path,
                                     std::string_view interface, const Deadline &deadline)
{
    Result<Body> reply = callSystemBus({destination, path, kPropertiesInterface, "GetAll"},
                                       {Value::string(std::string(interface))}, "a{sv}", deadline);
    if (!reply) return reply.error();
    return *toPropertyMap(reply->front());
}

Result<ObjectMap> getManagedObjects(std::string_view destination, std::string_view path,
                                    const Deadline &deadline)
{
    Result<Body> reply =
        callSystemBus({destination, path, kObjectManagerInterface, "GetManagedObjects"}, {},
                      "a{oa{sa{sv}}}", deadline);
    if (!reply) return reply.error();
    return *toObjectMap(reply->front());
}

} // namespace vz::bus
