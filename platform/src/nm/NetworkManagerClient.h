// NetworkManagerClient.h: the calls we make on NetworkManager's connection
// profiles, one function per call, over the platform's bus client.
//
// Every call runs under the deadline its client was made with, shared by all
// the calls of one apply, so that a NetworkManager that stops answering
// costs the apply that much time once, never per call. Replies are checked
// against their signatures by the bus client; a profile's settings are read
// into Settings, a value of a type we do not use read as such (and never
// equal to ours).
#ifndef VZ_PLATFORM_NM_NETWORKMANAGERCLIENT_H
#define VZ_PLATFORM_NM_NETWORKMANAGERCLIENT_H

#include "BusConnection.h"
#include "Settings.h"

#include <string>
#include <vector>

namespace vz::nm {

inline constexpr std::string_view kNetworkManagerService = "org.freedesktop.NetworkManager";

class NetworkManagerClient {
  public:
    explicit NetworkManagerClient(const bus::Deadline &deadline) : deadline_(deadline) {}

    // Settings.ListConnections: every profile's object path.
    bus::Result<std::vector<std::string>> listProfiles();
    // Connection.GetSettings, and Connection.GetSecrets for one setting
    // (merged into *settings).
    bus::Result<Settings> readSettings(const std::string &path);
    bus::Result<bool> readSecrets(const std::string &path, const char *setting, Settings *settings);
    // Settings.AddConnection2 (kept on disk), Connection.Update2 (replacing
    // every setting, kept on disk), Connection.Delete.
    bus::Result<std::string> addProfile(const Settings &settings);
    bus::Result<bool>        updateProfile(const std::string &path, const Settings &settings);
    bus::Result<bool>        deleteProfile(const std::string &path);
    // The profiles active now (the Connection of each of the manager's
    // ActiveConnections), and Manager.ActivateConnection on whichever device
    // the profile names.
    bus::Result<std::vector<std::string>> activeProfiles();
    bus::Result<bool>                     activateProfile(const std::string &path);

  private:
    bus::Result<bus::Body> call(std::string_view path, std::string_view interface,
                                std::string_view member, const std::vector<bus::Value> &arguments,
                                std::string_view replySignature);

    bus::Deadline deadline_;
};

// Settings as the bus carries them (a{sa{sv}}), and back; nullopt for a
// value of another signature. May throw std::bad_alloc.
bus::Value              toBusValue(const Settings &settings);
std::optional<Settings> fromBusValue(const bus::Value &value);

} // namespace vz::nm

#endif
