#include "serial/AfComPortWriteThread.h"

#include <chrono>

namespace {

// How long a purge waits for the thread to let go of the block it writes.
constexpr int kPurgeTimeoutMs = 2000;

}  // namespace

bool TAfComPortWriteThread::Purge() {
  std::uint64_t asked = 0;
  {
    std::lock_guard guard(FCore.FWriteLock);
    FPurging = true;
    asked = ++FPurgeAsked;
  }
  Signal(sgPurgeRequested);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(kPurgeTimeoutMs);
  bool acknowledged = false;
  while (!acknowledged) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || FSignals.WaitAny(sgPurgeAck, static_cast<int>(left.count())) == 0)
      break;
    std::lock_guard guard(FCore.FWriteLock);
    acknowledged = FPurgeAcknowledged == asked;
  }
  std::lock_guard guard(FCore.FWriteLock);
  FPurging = false;
  if (!acknowledged) return false;
  FSignals.Reset(sgDataReady);
  FBuffer.Clear();
  return FHandle->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR);
}

void TAfComPortWriteThread::Execute() {
  Announce("AfComPortWrite");
  try {
    while (!FTerminated) {
      switch (FSignals.WaitAny(sgStop | sgPurgeRequested | sgDataReady, -1)) {
        case sgStop:
          Terminate();
          break;
        case sgPurgeRequested:
          AcknowledgePurge();
          break;
        default:
          WriteBlock();
      }
    }
  } catch (...) {
    ShowOnMainThread(std::current_exception());
  }
}

void TAfComPortWriteThread::WriteBlock() {
  const char* block;
  std::int32_t length;
  {
    std::lock_guard guard(FCore.FWriteLock);
    if (FPurging) return;
    length = FBuffer.LinearReadCount();
    block = FBuffer.ReadPointer();
  }
  if (length == 0) return;
  std::int32_t done = 0;
  for (;;) {
    std::int32_t written = 0;
    TAfWriteResult result = FHandle->Write(block + done, length - done, written);
    done += written;
    if (result == TAfWriteResult::Done) break;
    // A failed write stays queued until the next write or a purge.
    if (result == TAfWriteResult::Failed) return;
    switch (FSignals.WaitAny(sgStop | sgPurgeRequested, 0)) {
      case sgStop:
        Terminate();
        return;
      case sgPurgeRequested:
        AcknowledgePurge();
        return;
    }
  }
  if (done != length) return;
  std::unique_lock guard(FCore.FWriteLock);
  FBuffer.Remove(length);
  if (FBuffer.UsedCount() == 0) {
    guard.unlock();
    FCore.FTransmitDone = true;
    FHandle->WakeEventWait();
  } else {
    FSignals.Set(sgDataReady);
  }
}

void TAfComPortWriteThread::AcknowledgePurge() {
  {
    std::lock_guard guard(FCore.FWriteLock);
    FPurgeAcknowledged = FPurgeAsked;
  }
  FSignals.Set(sgPurgeAck);
}
