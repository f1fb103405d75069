#pragma once
// A Mosquitto broker of the test's own on loopback, with one user, and a subscriber to it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/net/LoopbackDaemon.h"

struct mosquitto;

class TMosquittoBroker {
 public:
  static constexpr const char* kUser = "kvx";
  static constexpr const char* kPassword = "plant-secret";

  // The installed broker, or an empty text.
  static std::string Program();
  // Raises std::runtime_error when it cannot be started.
  TMosquittoBroker();

  int Port() const { return FDaemon.Port(); }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(Port()); }
  // A file in the broker's folder holding Password, for --mqtt-password-file.
  std::string PasswordFile(const std::string& Password) const;
  // What the broker wrote to its log so far.
  std::string Log() const;
  void Kill() { FDaemon.Kill(); }
  void Restart() { FDaemon.Restart(); }

 private:
  TLoopbackDaemon FDaemon;
};

struct TReceived {
  std::string Topic;
  std::string Payload;
  std::chrono::system_clock::time_point At;
};

// Subscribed to everything on the broker, through its outages.
class TMqttSubscriber {
 public:
  // Each message is kept, or given to OnMessage (on the client's thread) instead.
  explicit TMqttSubscriber(int Port, std::function<void(const TReceived&)> OnMessage = {});
  ~TMqttSubscriber();

  // The first message kept since the last wait that Match takes, or none after Timeout.
  std::optional<TReceived> WaitFor(const std::function<bool(const TReceived&)>& Match,
                                   std::chrono::seconds Timeout);

 private:
  void Received(TReceived Message);

  std::function<void(const TReceived&)> FOnMessage;
  std::mutex FMutex;
  std::condition_variable FArrived;
  std::vector<TReceived> FKept;  // guarded by FMutex
  std::unique_ptr<mosquitto, void (*)(mosquitto*)> FHandle;
};
