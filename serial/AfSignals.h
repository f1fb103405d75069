#pragma once
// A small set of auto-reset signals that one thread waits on ("wait for any, with time-out").
#include <chrono>
#include <condition_variable>
#include <mutex>

class TAfSignals {
 public:
  void Set(unsigned Bits) {
    {
      std::lock_guard guard(FLock);
      FState |= Bits;
    }
    FChanged.notify_all();
  }
  void Reset(unsigned Bits) {
    std::lock_guard guard(FLock);
    FState &= ~Bits;
  }
  // Waits for any of Bits (TimeoutMs < 0: without time-out); clears and returns the lowest of
  // them that is set, or 0 on time-out.
  unsigned WaitAny(unsigned Bits, int TimeoutMs) {
    std::unique_lock guard(FLock);
    auto ready = [&] { return (FState & Bits) != 0; };
    if (TimeoutMs < 0)
      FChanged.wait(guard, ready);
    else if (!FChanged.wait_for(guard, std::chrono::milliseconds(TimeoutMs), ready))
      return 0;
    unsigned set = FState & Bits;
    unsigned lowest = set & (~set + 1);
    FState &= ~lowest;
    return lowest;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  unsigned FState = 0;
};
