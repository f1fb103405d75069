#include "service/uMqttSettings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "support/uHostPort.h"

namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";
constexpr const char* kPlainPort = "1883";
constexpr const char* kTlsPort = "8883";
constexpr const char* kDiscoveryOption = "--mqtt-discovery";
constexpr const char* kDefaultDiscoveryPrefix = "homeassistant";

void ParseBrokerUrl(TMqttSettings& Settings, std::string_view Url) {
  const auto malformed = [&Url](const std::string& Why) {
    return TMqttSettingsError("--mqtt: '" + std::string(Url) + "' is not a broker URL (" + Why +
                              ")");
  };
  Settings.Tls = HasUrlScheme(Url, kTlsScheme);
  if (!Settings.Tls && !HasUrlScheme(Url, kPlainScheme))
    throw malformed("mqtt:// or mqtts:// expected");
  const std::string_view rest = Url.substr((Settings.Tls ? kTlsScheme : kPlainScheme).size());
  // A password in the URL would be seen by every user of the machine in the process list.
  if (rest.find('@') != std::string_view::npos)
    throw malformed("give the user with --mqtt-user and the password in --mqtt-password-file");
  try {
    THostPort address = ParseHostPort(rest, Settings.Tls ? kTlsPort : kPlainPort);
    Settings.Host = std::move(address.Host);
    Settings.Port = std::move(address.Port);
  } catch (const Exception& error) {
    throw malformed(error.what());
  }
}

// A topic level of our own: no wildcard, no level separator, not empty.
std::string TopicLevels(const std::string& Option, const std::string& Text) {
  if (Text.empty() || Text.find_first_of("+#") != std::string::npos || Text.front() == '/' ||
      Text.back() == '/')
    throw TMqttSettingsError(Option + ": '" + Text +
                             "' is not a topic prefix (no '+', '#', or '/' at either end)");
  return Text;
}

}  // namespace

std::string TMqttSettings::BrokerText() const {
  return std::string(Tls ? kTlsScheme : kPlainScheme) + HostPortText({Host, Port});
}

bool ParseMqttOption(TMqttSettings& Settings, const std::vector<std::string>& Args,
                     std::size_t& Index) {
  const std::string& arg = Args[Index];
  if (arg == kDiscoveryOption) {
    Settings.DiscoveryPrefix = kDefaultDiscoveryPrefix;
    return true;
  }
  if (arg.starts_with(std::string(kDiscoveryOption) + "=")) {
    Settings.DiscoveryPrefix =
        TopicLevels(kDiscoveryOption, arg.substr(std::strlen(kDiscoveryOption) + 1));
    return true;
  }
  static const char* const kValued[] = {"--mqtt",        "--mqtt-cafile",
                                        "--mqtt-user",   "--mqtt-password-file",
                                        "--mqtt-prefix", "--mqtt-protocol"};
  if (std::find(std::begin(kValued), std::end(kValued), arg) == std::end(kValued)) return false;
  if (Index + 1 >= Args.size()) throw TMqttSettingsError(arg + " needs a value");
  const std::string& value = Args[++Index];
  if (arg == "--mqtt")
    ParseBrokerUrl(Settings, value);
  else if (arg == "--mqtt-cafile")
    Settings.CaFile = value;
  else if (arg == "--mqtt-user")
    Settings.User = value;
  else if (arg == "--mqtt-password-file")
    Settings.PasswordFile = value;
  else if (arg == "--mqtt-prefix")
    Settings.Prefix = TopicLevels(arg, value);
  else if (value == "3.1.1" || value == "4")
    Settings.Protocol = TMqttProtocol::V311;
  else if (value == "5")
    Settings.Protocol = TMqttProtocol::V5;
  else
    throw TMqttSettingsError(arg + ": '" + value + "' is not 3.1.1 or 5");
  return true;
}

void CheckMqttSettings(const TMqttSettings& Settings) {
  const bool anyOther = !Settings.CaFile.empty() || !Settings.User.empty() ||
                        !Settings.PasswordFile.empty() || Settings.DiscoveryPrefix;
  if (!Settings.Enabled() && anyOther)
    throw TMqttSettingsError("the --mqtt options need --mqtt URL");
  if (!Settings.CaFile.empty() && !Settings.Tls)
    throw TMqttSettingsError("--mqtt-cafile needs an mqtts:// broker");
  if (!Settings.PasswordFile.empty() && Settings.User.empty())
    throw TMqttSettingsError("--mqtt-password-file needs --mqtt-user");
}

std::string ReadMqttPassword(const TMqttSettings& Settings) {
  if (Settings.PasswordFile.empty()) return {};
  errno = 0;
  std::ifstream in(Settings.PasswordFile);
  std::string password;
  if (!in || !std::getline(in, password))
    throw TMqttSettingsError("--mqtt-password-file: cannot read '" + Settings.PasswordFile +
                             "': " + (errno ? std::strerror(errno) : "it is empty"));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}
