#pragma once
// Where and how `kvxctl serve` publishes to an MQTT broker: the --mqtt… options, read here so
// that the command only passes them on.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "support/uErrors.h"

enum class TMqttProtocol { V311, V5 };

struct TMqttSettings {
  std::string Host;  // empty: nothing is published
  std::string Port;
  bool Tls = false;
  std::string CaFile;
  std::string User;
  std::string PasswordFile;
  std::string Prefix = "kvx";
  std::optional<std::string> DiscoveryPrefix;  // Home Assistant discovery, when set
  TMqttProtocol Protocol = TMqttProtocol::V311;

  bool Enabled() const { return !Host.empty(); }
  bool operator==(const TMqttSettings&) const = default;
  // "mqtt://HOST:PORT" for the messages about the broker.
  std::string BrokerText() const;
};

// A bad --mqtt… option, named with its value.
class TMqttSettingsError : public Exception {
 public:
  using Exception::Exception;
};

// When Args[Index] is one of the --mqtt… options, takes it (and its value, moving Index on)
// into Settings and answers true. Raises TMqttSettingsError for a bad value.
bool ParseMqttOption(TMqttSettings& Settings, const std::vector<std::string>& Args,
                     std::size_t& Index);
// After every option was read: raises TMqttSettingsError for options that need another.
void CheckMqttSettings(const TMqttSettings& Settings);
// The password from --mqtt-password-file (its first line), empty without one. Raises
// TMqttSettingsError when the file cannot be read.
std::string ReadMqttPassword(const TMqttSettings& Settings);
