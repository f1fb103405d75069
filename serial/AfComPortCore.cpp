#include "serial/AfComPortCore.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "serial/AfCircularBuffer.h"
#include "serial/AfSafeSync.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

constexpr int PollIntervalMs = 200;
constexpr int PurgeTimeoutMs = 2000;
constexpr int ThreadStartTimeoutMs = 3000;
constexpr unsigned sgThreadStarted = 1;

// Best effort: a priority the process may not raise is left as it is.
void ApplyPriority(pid_t Tid, TThreadPriority Priority) {
  static constexpr int Nice[] = {19, 10, 5, 0, -5, -10, -20};
  if (Tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), Nice[Priority]);
}

// Shows an exception that ended a worker thread, on the main thread.
void ShowOnMainThread(std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const EAbort&) {
  } catch (const std::exception& E) {
    AfMainThreadDispatcher()->Post([Text = std::string(E.what())] { ShowMessage(Text); });
  } catch (...) {
  }
}

}  // namespace

// Common part of both worker threads: owning core, a copy of its device handle, and the
// thread itself, which runs Execute once started.
class TAfComPortCoreThread {
 public:
  TAfComPortCoreThread(TAfComPortCore& Core) : FCore(Core), FHandle(Core.FHandle.get()) {}
  virtual ~TAfComPortCoreThread() { WaitFor(); }

  void Start() {
    FThread = std::thread([this] {
      FTid = static_cast<pid_t>(gettid());
      Execute();
    });
  }
  void Terminate() { FTerminated = true; }
  void WaitFor() {
    if (FThread.joinable()) FThread.join();
  }
  void SetPriority(TThreadPriority Priority) { ApplyPriority(FTid, Priority); }

 protected:
  virtual void Execute() = 0;
  void Announce(const char* Name) {
    pthread_setname_np(pthread_self(), Name);
    FCore.FThreadStarted.Set(sgThreadStarted);
  }

  std::exception_ptr FLastException;
  std::atomic<bool> FTerminated{false};
  TAfComPortCore& FCore;
  TAfComDevice* const FHandle;

 private:
  std::atomic<pid_t> FTid{0};
  std::thread FThread;
};

class TAfComPortEventThread : public TAfComPortCoreThread {
 public:
  explicit TAfComPortEventThread(TAfComPortCore& Core)
      : TAfComPortCoreThread(Core), FHandler(Core.FOnEvent) {
    Start();
  }
  ~TAfComPortEventThread() override { WaitFor(); }

  // Waits for a report in progress; none is made afterwards.
  void ClearHandler() {
    std::lock_guard Guard(FHandlerLock);
    FHandler = nullptr;
  }
  void Stop() {
    FStop = true;
    FHandle->WakeEventWait();
  }

 protected:
  void Execute() override {
    FCore.FTransmitDone = false;
    Announce("AfComPortEvent");
    try {
      while (!FTerminated) {
        std::uint32_t Mask = 0;
        TAfWaitResult Result = FHandle->WaitCommEvent(Mask, PollIntervalMs);
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
      FLastException = std::current_exception();
      ReportException(FLastException);
    }
  }

 private:
  void Report(TAfCoreEvent Kind, std::uint32_t Data) {
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
    FLastException = Error;
    ReportException(Error);
  }
  void ReportException(std::exception_ptr Error) {
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

  std::atomic<bool> FStop{false};
  std::mutex FHandlerLock;
  TAfCoreEventHandler FHandler;
};

class TAfComPortWriteThread : public TAfComPortCoreThread {
 public:
  static constexpr unsigned sgStop = 1, sgPurgeRequested = 2, sgDataReady = 4, sgPurgeAck = 8;

  TAfComPortWriteThread(TAfComPortCore& Core, std::int32_t Capacity)
      : TAfComPortCoreThread(Core), FBuffer(Capacity) {
    Start();
  }
  ~TAfComPortWriteThread() override { WaitFor(); }

  // Guarded by the core's write lock.
  TAfCircularBuffer FBuffer;
  bool FPurging = false;
  TAfSignals FSignals;

  void Stop() {
    Terminate();
    Signal(sgStop);
  }
  void Signal(unsigned Bits) {
    FSignals.Set(Bits);
    if (Bits & (sgStop | sgPurgeRequested)) FHandle->WakeWrite();
  }
  // The purge handshake: the thread acknowledges (abandoning a write in progress) before the
  // buffer is cleared, and takes no new block until it is, so nothing queued before the purge
  // goes out after it and nothing queued after it is taken for the old block.
  bool Purge() {
    {
      std::lock_guard Guard(FCore.FWriteLock);
      FPurging = true;
    }
    Signal(sgPurgeRequested);
    const bool Acknowledged = FSignals.WaitAny(sgPurgeAck, PurgeTimeoutMs) != 0;
    std::lock_guard Guard(FCore.FWriteLock);
    FPurging = false;
    if (!Acknowledged) return false;
    FSignals.Reset(sgDataReady);
    FBuffer.Clear();
    return FHandle->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR);
  }

 protected:
  void Execute() override {
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
      FLastException = std::current_exception();
      ShowOnMainThread(FLastException);
    }
  }

 private:
  void WriteBlock() {
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
};

TAfComPortCore::TAfComPortCore() = default;

TAfComPortCore::~TAfComPortCore() {
  ClosePort();
}

void TAfComPortCore::WaitThreadStarted() {
  if (!FThreadStarted.WaitAny(sgThreadStarted, ThreadStartTimeoutMs))
    throw EAfComPortCoreError("Error creating threads");
}

bool TAfComPortCore::OpenPort(std::int32_t PortNumber) {
  if (FActive) return false;
  FGone = false;
  FOpenError = TAfOpenError::NotFound;
  if (PortNumber <= 0) throw EAfComPortCoreError(Format("Invalid port number (COM%d)", PortNumber));
  FPortNumber = PortNumber;
  FHandle.reset();
  TAfOpenError Error;
  auto Device = AfOpenComDevice(PortNumber, Error);
  FOpenError = Device ? TAfOpenError::None : Error;
  if (!Device) {
    if (Error == TAfOpenError::NotFound)
      throw EAfComPortCoreError(Format("Invalid port number (COM%d)", PortNumber));
    throw EAfComPortCoreError(Format("Can't open device COM%d", PortNumber));
  }
  FHandle = std::move(Device);
  try {
    if (!FHandle->SetTimeouts()) throw EAfComPortCoreError("Error setting timeouts");
    if (!FHandle->SetupComm(FInQueueSize, FOutQueueSize))
      throw EAfComPortCoreError("Error initializing buffers");
    if (!FHandle->SetCommMask(FEventMask)) throw EAfComPortCoreError(" Error setting EventMask");
    if (!FHandle->SetCommState(FDcb)) {
      FHandle->GetCommState(FDcb);
      throw EAfComPortCoreError("Error setting parameters from DCB");
    }
    {
      std::lock_guard Guard(FStatusLock);
      FLineErrors = 0;
    }
    try {
      FWriteThread = std::make_unique<TAfComPortWriteThread>(*this, FOutQueueSize);
      WaitThreadStarted();
      FWriteThread->SetPriority(FWriteThreadPriority);
      FReady = true;
      FEventThread = std::make_unique<TAfComPortEventThread>(*this);
      WaitThreadStarted();
      FEventThread->SetPriority(FEventThreadPriority);
    } catch (const std::system_error&) {
      throw EAfComPortCoreError("Error creating threads");
    } catch (const std::bad_alloc&) {
      throw EAfComPortCoreError("Error creating threads");
    }
  } catch (...) {
    CloseSequence();
    throw;
  }
  FActive = true;
  return true;
}

void TAfComPortCore::ClosePort() {
  if (!FActive) return;
  CloseSequence();
  FActive = false;
}

void TAfComPortCore::CloseSequence() {
  if (!FHandle) return;
  FReady = false;
  // Reports end before the status lock is taken: a report in progress may still need it.
  if (FEventThread) FEventThread->ClearHandler();
  {
    std::lock_guard Guard(FStatusLock);
    FHandle->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (FWriteThread) {
      FWriteThread->Purge();
      FWriteThread->Stop();
      FWriteThread.reset();
    }
    if (FEventThread) {
      FEventThread->Terminate();
      FHandle->SetCommMask(0);
      FHandle->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR);
      FEventThread->Stop();
      FEventThread.reset();
    }
  }
  FHandle.reset();
}

std::int32_t TAfComPortCore::ReadInput(void* Buffer, std::int32_t Count) {
  if (!FReady) return -1;
  std::lock_guard Guard(FStatusLock);
  std::int32_t Read = FHandle->Read(Buffer, Count);
  if (Read < 0) NoteGone();
  return Read < 0 ? 0 : Read;
}

bool TAfComPortCore::QueueOutput(const void* Buffer, std::int32_t Count) {
  if (!FReady) return false;
  std::lock_guard Guard(FWriteLock);
  if (!FWriteThread->FBuffer.Write(Buffer, Count)) return false;
  FWriteThread->Signal(TAfComPortWriteThread::sgDataReady);
  return true;
}

std::int32_t TAfComPortCore::OutputSpace() {
  if (!FReady) return 0;
  std::lock_guard Guard(FWriteLock);
  return FWriteThread->FBuffer.FreeSpace();
}

bool TAfComPortCore::PurgeInput() {
  if (!FReady) return false;
  std::lock_guard Guard(FStatusLock);
  return FHandle->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR);
}

bool TAfComPortCore::PurgeOutput() {
  if (!FReady) return false;
  return FWriteThread->Purge();
}

COMSTAT TAfComPortCore::LineStatusLocked() {
  std::uint32_t Errors = 0;
  COMSTAT Stat;
  if (!FHandle->ClearCommError(Errors, Stat)) {
    NoteGone();
    return COMSTAT{};
  }
  FLineErrors |= Errors;
  return Stat;
}

COMSTAT TAfComPortCore::LineStatus() {
  if (!FReady) return COMSTAT{};
  std::lock_guard Guard(FStatusLock);
  return LineStatusLocked();
}

bool TAfComPortCore::PollLineStatus(COMSTAT& Stat, const std::atomic<bool>& Stop) {
  std::unique_lock Guard(FStatusLock, std::defer_lock);
  // The lock is held for long only by a closer, which sets Stop before it waits for this
  // thread; a plain try loop keeps to the locking that every checking tool understands.
  while (!Guard.try_lock()) {
    if (Stop) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!FReady) return false;
  Stat = LineStatusLocked();
  return true;
}

bool TAfComPortCore::NoteGone() {
  if (FGone) return true;
  if (!FHandle || !FHandle->Gone()) return false;
  FGone = true;
  // The event thread reports it; it may be waiting for the next poll.
  FHandle->WakeEventWait();
  return true;
}

std::uint32_t TAfComPortCore::TakeLineErrors() {
  if (!FReady) return 0;
  std::lock_guard Guard(FStatusLock);
  // Errors still held by the driver belong to this take: without this an error event would
  // report nothing unless the status happened to be read in between.
  LineStatusLocked();
  std::uint32_t Errors = FLineErrors;
  FLineErrors = 0;
  return Errors;
}

std::uint32_t TAfComPortCore::ModemLines() {
  if (!FReady) return 0;
  std::uint32_t Status = 0;
  return FHandle->GetCommModemStatus(Status) ? Status : 0;
}

bool TAfComPortCore::EscapeLine(std::uint32_t Function) {
  if (!FReady) return false;
  return FHandle->EscapeCommFunction(Function);
}

void TAfComPortCore::ApplyDcb(const DCB& Dcb) {
  FDcb = Dcb;
  // A hung-up line takes the settings at the next open; it refuses nothing meanwhile.
  if (!FReady || FGone) return;
  if (!FHandle->SetCommState(FDcb)) {
    if (NoteGone()) return;
    FHandle->GetCommState(FDcb);
    throw EAfComPortCoreError("Error setting parameters from DCB");
  }
}

void TAfComPortCore::SetEventThreadPriority(TThreadPriority Value) {
  FEventThreadPriority = Value;
  if (FReady && FEventThread) FEventThread->SetPriority(Value);
}

void TAfComPortCore::SetWriteThreadPriority(TThreadPriority Value) {
  FWriteThreadPriority = Value;
  if (FReady && FWriteThread) FWriteThread->SetPriority(Value);
}
