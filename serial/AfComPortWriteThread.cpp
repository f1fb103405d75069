#include "serial/AfComPortWriteThread.h"

namespace {

// How long a purge waits for the thread to let go of the block it writes.
constexpr int kPurgeTimeoutMs = 2000;

}  // namespace

bool TAfComPortWriteThread::Purge() {
  {
    std::lock_guard guard(FCore.FWriteLock);
    FPurging = true;
  }
  Signal(sgPurgeRequested);
  const bool acknowledged = FSignals.WaitAny(sgPurgeAck, kPurgeTimeoutMs) != 0;
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
          FSignals.Set(sgPurgeAck);
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
        FSignals.Set(sgPurgeAck);
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
