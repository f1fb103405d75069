// What a subscriber reads of a module: its state, availability and Home Assistant discovery.
#include "service/uMqttMessages.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

TServedModule Module() {
  TServedModule module;
  module.Model = "VIROD";
  module.Serial = "4711";
  module.UserName = "Boiler room";
  module.Up = true;
  module.LastRead = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796890205042));
  module.Channels[0] = {TServedChannelStatus::Value, 21.5, "21.50", "Inlet", "°C"};
  module.Channels[1] = {TServedChannelStatus::None, 0, "", "Spare", "mA"};
  module.Channels[2] = {TServedChannelStatus::Overflow, 0, "OVR", "Flow", "m³/h"};
  module.Channels[3] = {TServedChannelStatus::Value, 3.25, "3.25", "Valve", "kp/h"};
  return module;
}

struct TCase {
  const char* What;
  std::function<void(TServedModule&)> Change;
  std::string Topic;
  std::string Pointer;           // into the payload's JSON
  std::optional<json> Expected;  // none: the field is absent
};

TEST(MqttMessages, ASubscriberReadsTheModuleAsTheWindowShowsIt) {
  const auto same = [](TServedModule&) {};
  const std::string state = "kvx/VIROD-4711/state";
  const std::string ch1 = "homeassistant/sensor/kvx_VIROD_4711/ch1/config";
  const std::string ch4 = "homeassistant/sensor/kvx_VIROD_4711/ch4/config";
  const std::vector<TCase> cases = {
      {"time of the read", same, state, "/time", "2026-12-10T08:10:05.042Z"},
      {"a value", same, state, "/channels/0",
       json::parse(R"({"channel":1,"status":"value","value":21.5,"text":"21.50",
                       "name":"Inlet","unit":"°C"})")},
      {"a dash", same, state, "/channels/1/value", nullptr},
      {"a dash's status", same, state, "/channels/1/status", "none"},
      {"an overflow", same, state, "/channels/2/value", nullptr},
      {"an overflow's status", same, state, "/channels/2/status", "overflow"},
      {"the module's name", same, state, "/name", "Boiler room"},
      {"a module that answers", same, "kvx/VIROD-4711/availability", "", "online"},
      {"a silent module", [](TServedModule& m) { m.Up = false; }, "kvx/VIROD-4711/availability", "",
       "offline"},
      {"a model text that is no topic level", [](TServedModule& m) { m.Model = "VI/R+D"; },
       "kvx/VI_R_D-4711/state", "/model", "VI/R+D"},
      {"a unit Home Assistant knows", same, ch1, "/unit_of_measurement", "°C"},
      {"a unit it does not know", same, ch4, "/unit_of_measurement", std::nullopt},
      {"stable id", same, ch1, "/unique_id", "kvx_VIROD_4711_ch1"},
      {"the device", same, ch1, "/device",
       json::parse(R"({"identifiers":["kvx_VIROD_4711"],"name":"Boiler room","model":"VIROD",
                       "serial_number":"4711"})")},
      {"the value in the state", same, ch4, "/value_template",
       "{{ value_json.channels[3].value }}"},
      {"both availabilities", same, ch1, "/availability/0/topic", "kvx/bridge/hall-pc/status"},
      {"a renamed channel", [](TServedModule& m) { m.Channels[0].Name = "Outlet"; }, ch1, "/name",
       "Outlet"},
      {"a channel without a name", [](TServedModule& m) { m.Channels[3].Name.clear(); }, ch4,
       "/name", "Channel 4"},
      {"a module without a name", [](TServedModule& m) { m.UserName.clear(); }, ch1, "/device/name",
       "VIROD 4711"},
  };
  TMqttSettings settings;
  settings.DiscoveryPrefix = "homeassistant";
  for (const TCase& item : cases) {
    SCOPED_TRACE(item.What);
    TServedModule module = Module();
    item.Change(module);
    std::vector<TMqttMessage> messages = MqttDiscovery(settings, "hall-pc", module);
    messages.push_back(MqttAvailability(settings, module));
    messages.push_back(*MqttState(settings, module));
    const auto message = std::find_if(messages.begin(), messages.end(),
                                      [&](const TMqttMessage& m) { return m.Topic == item.Topic; });
    ASSERT_NE(message, messages.end());
    if (item.Pointer.empty()) {
      EXPECT_EQ(message->Payload, *item.Expected);
      continue;
    }
    const json payload = json::parse(message->Payload);
    const json::json_pointer pointer(item.Pointer);
    if (item.Expected)
      EXPECT_EQ(payload.contains(pointer) ? payload.at(pointer) : json("(absent)"), *item.Expected)
          << message->Payload;
    else
      EXPECT_FALSE(payload.contains(pointer)) << message->Payload;
  }
  TServedModule never = Module();
  never.LastRead.reset();
  EXPECT_FALSE(MqttState(settings, never)) << "a state before the first answer";
  std::vector<std::string> cleared;
  for (const TMqttMessage& message : MqttForgotten(settings, Module())) {
    EXPECT_EQ(message.Payload, "") << message.Topic;
    cleared.push_back(message.Topic);
  }
  EXPECT_EQ(cleared,
            (std::vector<std::string>{state, "kvx/VIROD-4711/availability", ch1,
                                      "homeassistant/sensor/kvx_VIROD_4711/ch2/config",
                                      "homeassistant/sensor/kvx_VIROD_4711/ch3/config", ch4}));
}

}  // namespace
