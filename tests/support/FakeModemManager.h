// FakeModemManager.h: a ModemManager of the tests' own on a private bus,
// made of dbusmock's generic objects (python3-dbusmock has no template for
// it): modems with their ports, state and bearers, whose Modem.Simple
// Connect and Disconnect move the modem as the real service does, and the
// calls a client made.
//
//   vztest::FakeModemManager mm(bus);
//   mm.AddModem(0, {"ttyUSB0", "ttyUSB1", "ttyUSB2", "wwan0"}, 8);
//   mm.SetState(0, 10);                  // connecting
//   mm.AddBearer(0, 0, "wwan0", true);    // modem 0 lists bearer 0
//
// Like PrivateBus.h, nothing here uses GoogleTest; a failed step throws.
#ifndef VZ_TESTS_FAKEMODEMMANAGER_H
#define VZ_TESTS_FAKEMODEMMANAGER_H

#include "PrivateBus.h"

#include <string>
#include <vector>

namespace vztest {

class FakeModemManager : public FakeService {
  public:
    static constexpr const char *kName            = "org.freedesktop.ModemManager1";
    static constexpr const char *kPath            = "/org/freedesktop/ModemManager1";
    static constexpr const char *kModemInterface  = "org.freedesktop.ModemManager1.Modem";
    static constexpr const char *kBearerInterface = "org.freedesktop.ModemManager1.Bearer";
    static constexpr const char *kSimpleInterface = "org.freedesktop.ModemManager1.Modem.Simple";

    explicit FakeModemManager(const PrivateBus &bus) : FakeService(bus, kName, kPath, kName, true)
    {
    }

    static std::string ModemPath(int modem)
    {
        return std::string(kPath) + "/Modem/" + std::to_string(modem);
    }
    static std::string BearerPath(int bearer)
    {
        return std::string(kPath) + "/Bearer/" + std::to_string(bearer);
    }

    // Modem N with these ports (the first is its primary port; a name that
    // starts with "tty" is an AT port, any other a network port) in state.
    // Connect makes it connected (State 11) and returns bearer N; Disconnect
    // makes it registered (State 8).
    void AddModem(int modem, const std::vector<std::string> &ports, int state) const
    {
        std::vector<std::string> args = {ModemPath(modem),
                                         kModemInterface,
                                         "5",
                                         "State",
                                         "i",
                                         std::to_string(state),
                                         "Ports",
                                         "a(su)",
                                         std::to_string(ports.size())};
        for (const std::string &port : ports) {
            args.push_back(port);
            args.push_back(port.rfind("tty", 0) == 0 ? "3" : "2");
        }
        args.insert(args.end(), {"PrimaryPort", "s", ports.empty() ? "" : ports.front(),
                                 "Manufacturer", "s", "ZORVEX", "Bearers", "ao", "0", "0"});
        Mock("AddObject", "ssa{sv}a(ssss)", args);
        SetConnect(modem, "self.props['" + std::string(kModemInterface) +
                              "']['State'] = dbus.Int32(11); ret = '" + BearerPath(modem) + "'");
        Mock("AddMethod", "sssss",
             {kSimpleInterface, "Disconnect", "o", "",
              "self.props['" + std::string(kModemInterface) + "']['State'] = dbus.Int32(8)"},
             ModemPath(modem));
    }
    // What Connect does: Python run by the fake, self the modem.
    void SetConnect(int modem, const std::string &code) const
    {
        Mock("AddMethod", "sssss", {kSimpleInterface, "Connect", "a{sv}", "o", code},
             ModemPath(modem));
    }
    void SetState(int modem, int state) const
    {
        Busctl({"--", "set-property", kName, ModemPath(modem), kModemInterface, "State", "i",
                std::to_string(state)});
    }
    // Bearer B on interface, listed by modem N as its only bearer.
    void AddBearer(int modem, int bearer, const std::string &interface, bool connected) const
    {
        Mock("AddObject", "ssa{sv}a(ssss)",
             {BearerPath(bearer), kBearerInterface, "2", "Interface", "s", interface, "Connected",
              "b", connected ? "true" : "false", "0"});
        Busctl({"--", "set-property", kName, ModemPath(modem), kModemInterface, "Bearers", "ao",
                "1", BearerPath(bearer)});
    }
    void RemoveObject(const std::string &path) const { Mock("RemoveObject", "s", {path}); }
    // The calls made to modem N, as busctl prints GetCalls' reply in JSON.
    std::string Calls(int modem) const { return Mock("GetCalls", "", {}, ModemPath(modem)); }
};

} // namespace vztest

#endif
