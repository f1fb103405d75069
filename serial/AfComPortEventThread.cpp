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
      std::uint32_t mask = 0;
      TAfWaitResult result = FHandle->WaitCommEvent(mask, kPollIntervalMs);
      if (FStop) {
        Terminate();
        break;
      }
      if (result == TAfWaitResult::Gone || FCore.NoteGone()) {
        // Nothing more will come: report it once and end, so a dead line costs nothing.
        FCore.FGone = true;
        Report(ceDeviceGone, 0);
        break;
      }
      if (result == TAfWaitResult::Event && mask != 0) {
        Report(ceLineEvent, mask);
      } else if (result == TAfWaitResult::Timeout) {
        COMSTAT stat;
        if (FCore.PollLineStatus(stat, FTerminated) && stat.cbInQue > 0)
          Report(ceNeedReadData, stat.cbInQue);
      }
      // A handler may have closed the port, or destroyed it: the core may be gone.
      if (Orphaned() || FTerminated) break;
      if (FCore.FTransmitDone.exchange(false)) Report(ceOutFree, 0);
    }
  } catch (...) {
    ReportException(std::current_exception());
  }
}

void TAfComPortEventThread::Report(TAfCoreEvent Kind, std::uint32_t Data) {
  std::exception_ptr error;
  {
    std::lock_guard guard(FHandlerLock);
    if (!FHandler || !FCore.FReady) return;  // closing has begun
    // A copy: the handler may clear its own slot when it closes the port.
    const TAfCoreEventHandler handler = FHandler;
    try {
      handler(&FCore, Kind, Data, nullptr);
      return;
    } catch (const EAbort&) {
      return;
    } catch (...) {
      error = std::current_exception();
    }
  }
  ReportException(error);
}
void TAfComPortEventThread::ReportException(std::exception_ptr Error) {
  std::lock_guard guard(FHandlerLock);
  if (!FHandler) {
    ShowOnMainThread(Error);
    return;
  }
  const TAfCoreEventHandler handler = FHandler;
  try {
    handler(&FCore, ceException, 0, Error);
  } catch (...) {
    // The receiver failed to take it; nothing further can be done on this thread.
  }
}
