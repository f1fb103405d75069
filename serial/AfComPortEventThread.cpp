#include "serial/AfComPortEventThread.h"

#include "serial/AfSafeSync.h"

namespace {

// How long a wait lasts before the input count is polled.
constexpr int kPollIntervalMs = 200;

}  // namespace

void TAfComPortEventThread::Execute() {
  FCore.FTransmitDone = false;
  Announce("AfComPortEvent");
  try {
    while (!FTerminated) {
      std::uint32_t Mask = 0;
      TAfWaitResult Result = FHandle->WaitCommEvent(Mask, kPollIntervalMs);
      if (FStop) {
        Terminate();
        break;
      }
      if (Result == TAfWaitResult::Gone || FCore.NoteGone()) {
        // Nothing more will come: report it once and end, so a dead line costs nothing.
        FCore.FGone = true;
        Report(ceDeviceGone, 0);
        break;
      }
      if (Result == TAfWaitResult::Event && Mask != 0) {
        Report(ceLineEvent, Mask);
      } else if (Result == TAfWaitResult::Timeout) {
        COMSTAT Stat;
        if (FCore.PollLineStatus(Stat, FTerminated) && Stat.cbInQue > 0)
          Report(ceNeedReadData, Stat.cbInQue);
      }
      if (FCore.FTransmitDone.exchange(false)) Report(ceOutFree, 0);
    }
  } catch (...) {
    ReportException(std::current_exception());
  }
}

void TAfComPortEventThread::Report(TAfCoreEvent Kind, std::uint32_t Data) {
  std::exception_ptr Error;
  {
    std::lock_guard Guard(FHandlerLock);
    if (!FHandler || !FCore.FReady) return;  // closing has begun
    try {
      FHandler(&FCore, Kind, Data, nullptr);
      return;
    } catch (const EAbort&) {
      return;
    } catch (...) {
      Error = std::current_exception();
    }
  }
  ReportException(Error);
}
void TAfComPortEventThread::ReportException(std::exception_ptr Error) {
  std::lock_guard Guard(FHandlerLock);
  if (!FHandler) {
    ShowOnMainThread(Error);
    return;
  }
  try {
    FHandler(&FCore, ceException, 0, Error);
  } catch (...) {
    // The receiver failed to take it; nothing further can be done on this thread.
  }
}
