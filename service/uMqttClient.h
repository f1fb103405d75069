#pragma once
// One connection to an MQTT broker, kept by a thread of its own: it connects, asks its source
// for what to publish whenever it is woken or (re)connected, and after a lost connection tries
// again with a backoff of at most 30 s. The only file that talks to libmosquitto.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/uMqttMessages.h"
#include "service/uMqttSettings.h"

struct mosquitto;

class TMqttClient {
 public:
  class ISource {
   public:
    virtual ~ISource() = default;
    // On the client's thread, while connected: what to publish now. Fresh after each
    // (re)connection, when the broker may hold nothing of ours.
    virtual std::vector<TMqttMessage> Pending(bool Fresh) = 0;
  };
  // A change of the connection's state, named for the operator: connected, lost, refused.
  using TReport = std::function<void(const std::string&)>;

  // Will is published by the broker when the connection breaks, and by the client when it
  // ends. Raises TMqttSettingsError for a CA file that cannot be used.
  TMqttClient(const TMqttSettings& Settings, const std::string& Password, TMqttMessage Will,
              ISource& Source, TReport Report);
  // Publishes the will, disconnects and joins the thread.
  ~TMqttClient();
  TMqttClient(const TMqttClient&) = delete;
  TMqttClient& operator=(const TMqttClient&) = delete;

  // From any thread, at once: the source has something new.
  void Wake();

 private:
  struct TMosquittoDeleter {
    void operator()(mosquitto* Handle) const;
  };
  struct TEventFd {
    TEventFd();
    ~TEventFd();
    int Fd;
  };

  void Run();
  // Until the connection breaks or the client ends.
  void Serve();
  void PublishPending(bool Fresh);
  void Flush();
  // Waits out the backoff after a failure; false when the client ends meanwhile.
  bool WaitToRetry();
  // True when woken, false after TimeoutMs; clears the wake-up.
  bool WaitForWake(int TimeoutMs);
  // Names a problem once, until it changes or the connection is made.
  void Problem(const std::string& Text);
  // The reason of libmosquitto's result Code, taken just after it was returned.
  std::string Reason(int Code) const;

  // libmosquitto's callbacks, on the client's thread.
  friend struct TMqttCallbacks;
  void OnConnack(int Code);
  void OnLibraryLog(int Level, const char* Text);

  TMqttSettings FSettings;
  TMqttMessage FWill;
  ISource& FSource;
  TReport FReport;
  std::unique_ptr<mosquitto, TMosquittoDeleter> FHandle;
  TEventFd FWake;
  std::atomic<bool> FStop{false};
  // Used by the client's thread alone (libmosquitto calls back on it).
  bool FConnected = false;
  bool FFresh = false;
  bool FRefused = false;
  int FRetry = 0;
  std::string FLastProblem;
  std::string FLastLibraryError;
  std::thread FThread;  // last: started once everything above is in place
};
