#pragma once
// Runs callbacks of worker threads on the main thread. A worker calls a registered slot and
// waits, with a time-out, until the main thread has run it. The main thread is whatever the
// installed dispatcher says it is: the GUI thread under Qt, or a thread that pumps the plain
// dispatcher (tests, command-line tools).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "support/uErrors.h"

// The silent exception: dropped wherever it is caught, never shown to the operator.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class IAfMainThreadDispatcher {
 public:
  virtual ~IAfMainThreadDispatcher() = default;
  // Queues Job for the main thread and returns at once.
  virtual void Post(std::function<void()> Job) = 0;
  virtual bool IsMainThread() const = 0;
  // Runs what has been posted so far ("process pending events").
  virtual void ProcessPending() = 0;
  // During a wait of the main thread's own (an exchange polling its channel): lets a window
  // draw itself, and nothing else run (no timers, device changes or posted jobs). Input waits
  // for the end of the wait; WithInput delivers it too (to a window that drops it while
  // busy). Nothing without a window.
  virtual void KeepDrawn(bool WithInput) { (void)WithInput; }
};

// Queue pumped by the thread that created it (or the one named by SetMainThread).
class TAfPlainDispatcher : public IAfMainThreadDispatcher {
 public:
  TAfPlainDispatcher();
  void Post(std::function<void()> Job) override;
  bool IsMainThread() const override;
  void ProcessPending() override;
  // Waits up to Timeout for a job, then runs everything pending; true when a job ran.
  bool PumpFor(std::chrono::milliseconds Timeout);
  void SetMainThread(std::thread::id Id);

 private:
  mutable std::mutex FLock;
  std::condition_variable FPosted;
  std::deque<std::function<void()>> FJobs;
  std::thread::id FMainThread;
};

// The dispatcher that sync slots use. Until one is installed, a plain dispatcher owned by the
// thread of the first call is created. Installing one affects calls made afterwards.
std::shared_ptr<IAfMainThreadDispatcher> AfMainThreadDispatcher();
void SetAfMainThreadDispatcher(std::shared_ptr<IAfMainThreadDispatcher> Dispatcher);

// Slot callback: called on the main thread with the slot index (1 upward).
using TAfSafeSyncProc = std::function<void(int SlotIndex)>;

// Returns the new slot's id (never reused); there are as many slots as are asked for (one
// per port: a machine may have hundreds). New slots are disabled.
std::int32_t AllocateSyncSlot(TAfSafeSyncProc Callback);
bool ReleaseSyncSlot(std::int32_t Id);
bool EnableSyncSlot(std::int32_t Id, bool Enabled);
// Runs the slot's callback on the main thread and waits up to TimeoutMs for it. False when
// the slot is missing or disabled, before or after the call (a disabled slot also ends the
// wait at once). A time-out alone does not make the result false.
bool CallSyncSlot(std::int32_t Id, std::uint32_t TimeoutMs);

// For its lifetime, the calling thread receives the calls of every slot enabled on it (the
// events of a port it opens) and runs them itself in AfPumpOwnEvents, so that a channel tested
// off the main thread never waits for the main thread. Ends by running what is still pending.
class TAfOwnEventsScope {
 public:
  TAfOwnEventsScope();
  ~TAfOwnEventsScope();
  TAfOwnEventsScope(const TAfOwnEventsScope&) = delete;
  TAfOwnEventsScope& operator=(const TAfOwnEventsScope&) = delete;
};
// Runs the calls posted to the calling thread's own events; nothing without a scope.
void AfPumpOwnEvents();
// The installed dispatcher's KeepDrawn, when called on its main thread.
void AfKeepWindowDrawn(bool WithInput = false);
