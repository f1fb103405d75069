#include "service/uMqttMessages.h"

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "support/uStringUtils.h"

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

// Units Home Assistant knows by these spellings; another unit is left out of the discovery
// rather than make it refuse the sensor's statistics.
constexpr const char* kKnownUnits[] = {
    "°C",  "°F",  "K",   "%",   "V",  "mV",  "kV",   "A",     "mA",  "W",    "kW",    "MW",   "Wh",
    "kWh", "MWh", "VA",  "var", "Hz", "Pa",  "hPa",  "kPa",   "bar", "mbar", "psi",   "mmHg", "m",
    "cm",  "mm",  "km",  "m³",  "L",  "mL",  "m³/h", "L/min", "m/s", "km/h", "g",     "kg",   "t",
    "lx",  "ppm", "ppb", "s",   "ms", "min", "h",    "d",     "dB",  "dBm",  "µS/cm", "mS/cm"};

// A topic level or an id made of a module's own text: anything but letters, digits, '-' and
// '_' would split the level, be a wildcard, or be refused as an id.
std::string TopicWord(const std::string& Text) {
  std::string word = Text;
  std::replace_if(
      word.begin(), word.end(),
      [](char c) {
        return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_');
      },
      '_');
  return word;
}

std::string ModuleTopic(const TMqttSettings& Settings, const TServedModule& Module,
                        const char* Leaf) {
  return Settings.Prefix + "/" + TopicWord(Module.Key()) + "/" + Leaf;
}

std::string StateTopic(const TMqttSettings& Settings, const TServedModule& Module) {
  return ModuleTopic(Settings, Module, "state");
}

std::string AvailabilityTopic(const TMqttSettings& Settings, const TServedModule& Module) {
  return ModuleTopic(Settings, Module, "availability");
}

std::string DeviceId(const TServedModule& Module) {
  return "kvx_" + TopicWord(Module.Model) + "_" + TopicWord(Module.Serial);
}

std::string DiscoveryTopic(const TMqttSettings& Settings, const TServedModule& Module,
                           std::size_t Channel) {
  return *Settings.DiscoveryPrefix + "/sensor/" + DeviceId(Module) + "/ch" +
         std::to_string(Channel + 1) + "/config";
}

const char* StatusText(TServedChannelStatus Status) {
  switch (Status) {
    case TServedChannelStatus::Value:
      return "value";
    case TServedChannelStatus::Overflow:
      return "overflow";
    case TServedChannelStatus::None:
      break;
  }
  return "none";
}

// "2026-12-10T15:30:50.123Z"
std::string IsoTime(std::chrono::system_clock::time_point Time) {
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return Format("%s.%03dZ", text, static_cast<int>(millis % 1000));
}

// The module's texts come from its memory: a byte that is not UTF-8 becomes U+FFFD rather than
// cost the message.
std::string Dump(const json& Value) {
  return Value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

TMqttMessage MqttBridgeStatus(const TMqttSettings& Settings, const std::string& HostName,
                              bool Online) {
  return {Settings.Prefix + "/bridge/" + TopicWord(HostName) + "/status",
          Online ? kOnline : kOffline};
}

TMqttMessage MqttAvailability(const TMqttSettings& Settings, const TServedModule& Module) {
  return {AvailabilityTopic(Settings, Module), Module.Up ? kOnline : kOffline};
}

std::optional<TMqttMessage> MqttState(const TMqttSettings& Settings, const TServedModule& Module) {
  if (!Module.LastRead) return std::nullopt;
  json channels = json::array();
  for (std::size_t index = 0; index < Module.Channels.size(); ++index) {
    const TServedChannel& channel = Module.Channels[index];
    const bool hasValue = channel.Status == TServedChannelStatus::Value;
    channels.push_back({{"channel", index + 1},
                        {"status", StatusText(channel.Status)},
                        {"value", hasValue ? json(channel.Value) : json(nullptr)},
                        {"text", channel.Text},
                        {"name", channel.Name},
                        {"unit", channel.Unit}});
  }
  const json state = {{"time", IsoTime(*Module.LastRead)},
                      {"model", Module.Model},
                      {"serial", Module.Serial},
                      {"name", Module.UserName},
                      {"channels", channels}};
  return TMqttMessage{StateTopic(Settings, Module), Dump(state)};
}

std::vector<TMqttMessage> MqttDiscovery(const TMqttSettings& Settings, const std::string& HostName,
                                        const TServedModule& Module) {
  std::vector<TMqttMessage> messages;
  if (!Settings.DiscoveryPrefix) return messages;
  const json device = {
      {"identifiers", {DeviceId(Module)}},
      {"name", Module.UserName.empty() ? Module.Model + " " + Module.Serial : Module.UserName},
      {"model", Module.Model},
      {"serial_number", Module.Serial}};
  const json availability = {{{"topic", MqttBridgeStatus(Settings, HostName, true).Topic}},
                             {{"topic", AvailabilityTopic(Settings, Module)}}};
  for (std::size_t index = 0; index < Module.Channels.size(); ++index) {
    const TServedChannel& channel = Module.Channels[index];
    const std::string number = std::to_string(index + 1);
    json sensor = {
        {"name", channel.Name.empty() ? "Channel " + number : channel.Name},
        {"unique_id", DeviceId(Module) + "_ch" + number},
        {"state_topic", StateTopic(Settings, Module)},
        // A dash or an overflow is null in the state, which Home Assistant shows as unknown.
        {"value_template", "{{ value_json.channels[" + std::to_string(index) + "].value }}"},
        {"state_class", "measurement"},
        {"availability", availability},
        {"availability_mode", "all"},
        {"device", device}};
    if (std::find(std::begin(kKnownUnits), std::end(kKnownUnits), channel.Unit) !=
        std::end(kKnownUnits))
      sensor["unit_of_measurement"] = channel.Unit;
    messages.push_back({DiscoveryTopic(Settings, Module, index), Dump(sensor)});
  }
  return messages;
}

std::vector<TMqttMessage> MqttForgotten(const TMqttSettings& Settings,
                                        const TServedModule& Module) {
  std::vector<TMqttMessage> messages{{StateTopic(Settings, Module), ""},
                                     {AvailabilityTopic(Settings, Module), ""}};
  if (Settings.DiscoveryPrefix)
    for (std::size_t index = 0; index < Module.Channels.size(); ++index)
      messages.push_back({DiscoveryTopic(Settings, Module, index), ""});
  return messages;
}
