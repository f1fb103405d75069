#include "serial/AfComPortWriteThread.h"

namespace {

// How long a purge waits for the thread to let go of the block it writes.
constexpr int kPurgeTimeoutMs = 2000;

}  // namespace

bool TAfComPortWriteThread::Purge() {
  {
    std::lock_guard Guard(FCore.FWriteLock);
    FPurging = true;
  }
  Signal(sgPurgeRequested);
  const bool Acknowledged = FSignals.WaitAny(sgPurgeAck, kPurgeTimeoutMs) != 0;
  std::lock_guard Guard(FCore.FWriteLock);
  FPurging = false;
  if (!Acknowledged) return false;
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
  const char* Block;
  std::int32_t Length;
  {
    std::lock_guard Guard(FCore.FWriteLock);
    if (FPurging) return;
    Length = FBuffer.LinearReadCount();
    Block = FBuffer.ReadPointer();
  }
  if (Length == 0) return;
  std::int32_t Done = 0;
  for (;;) {
    std::int32_t Written = 0;
    TAfWriteResult Result = FHandle->Write(Block + Done, Length - Done, Written);
    Done += Written;
    if (Result == TAfWriteResult::Done) break;
    // A failed write stays queued until the next write or a purge.
    if (Result == TAfWriteResult::Failed) return;
    switch (FSignals.WaitAny(sgStop | sgPurgeRequested, 0)) {
      case sgStop:
        Terminate();
        return;
      case sgPurgeRequested:
        FSignals.Set(sgPurgeAck);
        return;
    }
  }
  if (Done != Length) return;
  std::unique_lock Guard(FCore.FWriteLock);
  FBuffer.Remove(Length);
  if (FBuffer.UsedCount() == 0) {
    Guard.unlock();
    FCore.FTransmitDone = true;
    FHandle->WakeEventWait();
  } else {
    FSignals.Set(sgDataReady);
  }
}
