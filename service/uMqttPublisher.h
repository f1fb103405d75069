#pragma once
// The MQTT sink of `kvxctl serve`: keeps the latest snapshot of each module and publishes from
// the MQTT client's thread what changed (availability, state, discovery), so a poller never
// waits for the broker. While the broker is away only the latest snapshot per module is kept;
// after every (re)connection everything is published again.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/uMqttClient.h"
#include "service/uMqttMessages.h"
#include "service/uMqttSettings.h"
#include "service/uServedModule.h"

class TMqttPublisher final : public IServedModuleSink, private TMqttClient::ISource {
 public:
  // Reads the password file and starts connecting. Raises TMqttSettingsError for a file that
  // cannot be read or used; Report names the changes of the connection.
  TMqttPublisher(const TMqttSettings& Settings, TMqttClient::TReport Report);
  ~TMqttPublisher() override;

  void Update(const TServedModule& Module) override;
  void Forget(const TServedModule& Module) override;

 private:
  struct TLatest {
    TServedModule Module;
    bool Changed = true;
  };

  std::vector<TMqttMessage> Pending(bool Fresh) override;

  const TMqttSettings FSettings;
  const std::string FHostName;
  std::mutex FMutex;
  std::map<std::string, TLatest> FModules;                      // guarded by FMutex
  std::map<std::string, std::vector<TMqttMessage>> FForgotten;  // guarded by FMutex
  // What the broker holds of ours, topic by payload; the client's thread alone uses it.
  std::map<std::string, std::string> FPublished;
  std::unique_ptr<TMqttClient> FClient;  // last: its thread asks for Pending at once
};
