// PrivateBus.h: a system bus of the tests' own, and fake services on it, so
// that no test ever reaches the machine's bus.
//
// PrivateBus starts a dbus-daemon with private-bus.conf (beside this file)
// listening on a socket in a temporary folder, and makes its address
// DBUS_SYSTEM_BUS_ADDRESS for as long as it lives; the platform, busctl and
// the fakes all honour it. FakeService starts python3-dbusmock on that bus
// owning a name, with its main object, and drives it through the mock's own
// interface (AddObject, AddMethod, properties, GetCalls) with busctl, as a
// person would from a shell. Both stop what they started when they go.
//
//   vztest::PrivateBus  bus;
//   vztest::FakeService fake(bus, "org.example.Thing", "/org/example/Thing",
//                            "org.example.Thing", true);
//   fake.Busctl({"set-property", "org.example.Thing", "/org/example/Thing",
//                "org.example.Thing", "Level", "u", "3"});
//
// Nothing here uses GoogleTest, so that benchmarks can start a bus too; a
// step that fails throws std::runtime_error saying what failed.
#ifndef VZ_TESTS_PRIVATEBUS_H
#define VZ_TESTS_PRIVATEBUS_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace vztest {

// The interface through which dbusmock is driven.
inline constexpr const char *kMockInterface = "org.freedesktop.DBus.Mock";

struct ProgramOutput {
    int         status = -1; // exit status; -1 when it did not exit
    std::string out;         // standard output (standard error goes with it)
};

// Runs argv (argv[0] a path, or a name looked up in PATH) to its end.
ProgramOutput RunProgram(const std::vector<std::string> &argv);

class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus &)            = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    const std::string &Address() const { return address_; }
    const std::string &Folder() const { return folder_; }
    // Ends the daemon: the bus closes under every client. Start() brings a
    // new daemon up on the same address.
    void Stop();
    void Start();

  private:
    std::string folder_, address_;
    std::string savedAddress_;
    bool        hadAddress_ = false;
    pid_t       pid_        = -1;
};

class FakeService {
  public:
    // dbusmock owning name, its main object at path with the interface (and
    // the object manager interface, listing every object under path, when
    // objectManager). Started at once.
    FakeService(const PrivateBus &bus, std::string name, std::string path, std::string interface,
                bool objectManager);
    ~FakeService();
    FakeService(const FakeService &)            = delete;
    FakeService &operator=(const FakeService &) = delete;

    const std::string &Name() const { return name_; }
    const std::string &Path() const { return path_; }

    // Ends the process (its name leaves the bus), starts a new one (with no
    // object but its main one), stops it where it is without ending it (every
    // call to it waits), and lets it go on.
    void Stop();
    void Start();
    void Pause();
    void Resume();

    // busctl on the private bus with these arguments (after the address);
    // throws when busctl fails.
    std::string Busctl(const std::vector<std::string> &args) const;
    // A method of the fake's object at path, through busctl call: the
    // reply as busctl prints it in JSON ("--json=short").
    std::string Call(const std::string &path, const std::string &interface,
                     const std::string &method, const std::string &signature = "",
                     const std::vector<std::string> &args = {}) const;
    // A method of the mock interface of the object at path (the main one
    // when empty).
    std::string Mock(const std::string &method, const std::string &signature,
                     const std::vector<std::string> &args, const std::string &path = "") const;
    // Removes every object but the main one, and its calls.
    void Reset() const;

  private:
    const PrivateBus &bus_;
    std::string       name_, path_, interface_;
    bool              objectManager_ = false;
    pid_t             pid_           = -1;
};

} // namespace vztest

#endif
