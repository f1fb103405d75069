#pragma once
// Helpers shared by the port engine tests: a plain main-thread dispatcher owned by the test
// thread, a simulated line installed as the device factory, and waiting with a limit.
#include <chrono>
#include <functional>
#include <map>
#include <memory>

#include "serial/AfComDevice.h"
#include "serial/AfSafeSync.h"
#include "sim/AfSimComDevice.h"

// Installs a plain dispatcher whose main thread is the calling one; restores on destruction.
class TTestMainThread {
 public:
  TTestMainThread();
  ~TTestMainThread();
  // Pumps until Done holds or Limit passes; true when it holds.
  bool PumpUntil(const std::function<bool()>& Done,
                 std::chrono::milliseconds Limit = std::chrono::seconds(5));
  void PumpFor(std::chrono::milliseconds Time);
  std::shared_ptr<TAfPlainDispatcher> Dispatcher;

 private:
  std::shared_ptr<IAfMainThreadDispatcher> FPrevious;
};

// Serves simulated lines by port number for as long as it lives.
class TTestLines {
 public:
  explicit TTestLines(std::map<std::int32_t, std::shared_ptr<TAfSimLine>> Lines);
  ~TTestLines();

 private:
  TAfComDeviceFactory FPrevious;
};

// Runs Operation and returns the time it took.
std::chrono::milliseconds Timed(const std::function<void()>& Operation);

// Polls Done (without pumping) until it holds or Limit passes.
bool WaitUntil(const std::function<bool()>& Done,
               std::chrono::milliseconds Limit = std::chrono::seconds(5));
