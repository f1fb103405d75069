#pragma once
// The event thread of a port core: waits for line events and reports them, with "bytes
// waiting" (found by a poll when the wait times out) and "output drained" notices, through
// the core's handler. A hung-up line is reported once and ends the thread.
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>

#include "serial/AfComPortCoreThread.h"

class TAfComPortEventThread : public TAfComPortCoreThread {
 public:
  explicit TAfComPortEventThread(TAfComPortCore& Core)
      : TAfComPortCoreThread(Core), FHandler(Core.FOnEvent) {
    Start();
  }
  ~TAfComPortEventThread() override { WaitFor(); }

  // Waits for a report in progress (unless it is the caller's own); none is made afterwards.
  void ClearHandler() {
    std::lock_guard guard(FHandlerLock);
    FHandler = nullptr;
  }
  void Stop() {
    FStop = true;
    FHandle->WakeEventWait();
  }

 protected:
  void Execute() override;

 private:
  void Report(TAfCoreEvent Kind, std::uint32_t Data);
  void ReportException(std::exception_ptr Error);

  std::atomic<bool> FStop{false};
  std::recursive_mutex FHandlerLock;  // a handler may close the port from its report
  TAfCoreEventHandler FHandler;
};
