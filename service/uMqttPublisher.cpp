#include "service/uMqttPublisher.h"

#include <unistd.h>

#include <climits>

namespace {

std::string ThisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

TMqttPublisher::TMqttPublisher(const TMqttSettings& Settings, TMqttClient::TReport Report)
    : FSettings(Settings), FHostName(ThisHostName()) {
  FClient = std::make_unique<TMqttClient>(
      FSettings, ReadMqttPassword(FSettings), MqttBridgeStatus(FSettings, FHostName, false),
      static_cast<TMqttClient::ISource&>(*this), std::move(Report));
}

TMqttPublisher::~TMqttPublisher() {
  FClient.reset();
}

void TMqttPublisher::Update(const TServedModule& Module) {
  {
    std::lock_guard lock(FMutex);
    FModules[Module.Key()] = {Module, true};
    FForgotten.erase(Module.Key());
  }
  FClient->Wake();
}

void TMqttPublisher::Forget(const TServedModule& Module) {
  {
    std::lock_guard lock(FMutex);
    FModules.erase(Module.Key());
    FForgotten[Module.Key()] = MqttForgotten(FSettings, Module);
  }
  FClient->Wake();
}

std::vector<TMqttMessage> TMqttPublisher::Pending(bool Fresh) {
  std::vector<TServedModule> changed;
  std::vector<TMqttMessage> clears;
  {
    std::lock_guard lock(FMutex);
    for (auto& [key, latest] : FModules) {
      if (!latest.Changed && !Fresh) continue;
      changed.push_back(latest.Module);
      latest.Changed = false;
    }
    for (auto& [key, messages] : FForgotten)
      clears.insert(clears.end(), messages.begin(), messages.end());
    FForgotten.clear();
  }
  std::vector<TMqttMessage> messages;
  if (Fresh) {
    FPublished.clear();
    messages.push_back(MqttBridgeStatus(FSettings, FHostName, true));
  }
  for (const TMqttMessage& clear : clears) {
    FPublished.erase(clear.Topic);
    messages.push_back(clear);
  }
  const auto publishChanged = [&](TMqttMessage Message) {
    std::string& published = FPublished[Message.Topic];
    if (published == Message.Payload) return;
    published = Message.Payload;
    messages.push_back(std::move(Message));
  };
  for (const TServedModule& module : changed) {
    for (TMqttMessage& sensor : MqttDiscovery(FSettings, FHostName, module))
      publishChanged(std::move(sensor));
    publishChanged(MqttAvailability(FSettings, module));
    if (std::optional<TMqttMessage> state = MqttState(FSettings, module))
      publishChanged(std::move(*state));
  }
  return messages;
}
