#pragma once
// What the service publishes to an MQTT broker, as topics and payloads: its own status, and per
// module its availability, its latest read as JSON and the Home Assistant discovery of its
// channels. Topics name a module MODEL-SERIAL, the same on every port it moves to.
#include <optional>
#include <string>
#include <vector>

#include "service/uMqttSettings.h"
#include "service/uServedModule.h"

struct TMqttMessage {
  std::string Topic;
  std::string Payload;  // every message is retained; an empty one clears the topic
  bool operator==(const TMqttMessage&) const = default;
};

// PREFIX/bridge/HOST/status: "online" while the service is connected, "offline" as its last
// will and when it ends.
TMqttMessage MqttBridgeStatus(const TMqttSettings& Settings, const std::string& HostName,
                              bool Online);
// PREFIX/MODEL-SERIAL/availability: "online" while the module answers.
TMqttMessage MqttAvailability(const TMqttSettings& Settings, const TServedModule& Module);
// PREFIX/MODEL-SERIAL/state: the latest answered read; none before the first.
std::optional<TMqttMessage> MqttState(const TMqttSettings& Settings, const TServedModule& Module);
// One sensor per channel; none when discovery is off.
std::vector<TMqttMessage> MqttDiscovery(const TMqttSettings& Settings, const std::string& HostName,
                                        const TServedModule& Module);
// Every retained topic of a module that left the plant, with an empty payload.
std::vector<TMqttMessage> MqttForgotten(const TMqttSettings& Settings, const TServedModule& Module);
