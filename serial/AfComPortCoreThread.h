#pragma once
// What both worker threads of a port core share: the owning core, a copy of its device
// handle, and the thread itself, which runs Execute once started. Used by the core only.
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "serial/AfComPortCore.h"

// The core's FThreadStarted signal: a worker thread has started.
inline constexpr unsigned kThreadStartedSignal = 1;

// Shows an exception that ended a worker thread, on the main thread.
void ShowOnMainThread(std::exception_ptr Error);

class TAfComPortCoreThread {
 public:
  explicit TAfComPortCoreThread(TAfComPortCore& Core) : FCore(Core), FHandle(Core.FHandle.get()) {}
  virtual ~TAfComPortCoreThread() { WaitFor(); }
  TAfComPortCoreThread(const TAfComPortCoreThread&) = delete;
  TAfComPortCoreThread& operator=(const TAfComPortCoreThread&) = delete;

  void Start();
  void Terminate() { FTerminated = true; }
  void WaitFor() {
    if (FThread.joinable()) FThread.join();
  }
  bool OnThread() const { return FTid == static_cast<pid_t>(gettid()); }
  // From the thread itself, while it reports: its core lets go of it and may be gone once the
  // report returns. The thread then ends without the core and takes this object with it.
  static void Orphan(std::unique_ptr<TAfComPortCoreThread> Self);
  // Best effort: a priority the process may not raise is left as it is.
  void SetPriority(TThreadPriority Priority);

 protected:
  virtual void Execute() = 0;
  // Names the thread and tells the core it runs.
  void Announce(const char* Name);

  // The core has let go of this thread (see Orphan): it must not be touched again.
  bool Orphaned() const { return FSelf != nullptr; }

  std::atomic<bool> FTerminated{false};
  TAfComPortCore& FCore;
  TAfComDevice* const FHandle;

 private:
  std::atomic<pid_t> FTid{0};
  std::thread FThread;
  std::unique_ptr<TAfComPortCoreThread> FSelf;  // only touched on the thread itself
};
