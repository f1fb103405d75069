#include "serial/AfComPortCore.h"

#include "serial/AfComPortEventThread.h"
#include "serial/AfComPortWriteThread.h"
#include "support/uStringUtils.h"

namespace {

constexpr int kThreadStartTimeoutMs = 3000;

}  // namespace

TAfComPortCore::TAfComPortCore() = default;

TAfComPortCore::~TAfComPortCore() {
  ClosePort();
  JoinRetiredEventThreads();
  // Left only when a handler on that event thread destroys the port during its report.
  for (auto& thread : FRetiredEventThreads) TAfComPortCoreThread::Orphan(std::move(thread));
}

void TAfComPortCore::JoinRetiredEventThreads() {
  std::erase_if(FRetiredEventThreads, [](const std::unique_ptr<TAfComPortEventThread>& Thread) {
    if (Thread->OnThread()) return false;
    Thread->WaitFor();
    return true;
  });
}

void TAfComPortCore::WaitThreadStarted() {
  if (!FThreadStarted.WaitAny(kThreadStartedSignal, kThreadStartTimeoutMs))
    throw EAfComPortCoreError("Error creating threads");
}

bool TAfComPortCore::OpenPort(std::int32_t PortNumber) {
  if (FActive) return false;
  JoinRetiredEventThreads();
  FGone = false;
  FOpenError = TAfOpenError::NotFound;
  if (PortNumber <= 0) throw EAfComPortCoreError(Format("Invalid port number (COM%d)", PortNumber));
  FPortNumber = PortNumber;
  FHandle.reset();
  TAfOpenError error;
  auto device = AfOpenComDevice(PortNumber, error);
  FOpenError = device ? TAfOpenError::None : error;
  if (!device) {
    if (error == TAfOpenError::NotFound)
      throw EAfComPortCoreError(Format("Invalid port number (COM%d)", PortNumber));
    throw EAfComPortCoreError(Format("Can't open device COM%d", PortNumber));
  }
  FHandle = std::move(device);
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
      std::lock_guard guard(FStatusLock);
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
    std::lock_guard guard(FStatusLock);
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
      // Closed by a handler on the event thread itself: it ends once its report returns.
      if (FEventThread->OnThread())
        FRetiredEventThreads.push_back(std::move(FEventThread));
      else
        FEventThread.reset();
    }
  }
  FHandle.reset();
  JoinRetiredEventThreads();
}

std::int32_t TAfComPortCore::ReadInput(void* Buffer, std::int32_t Count) {
  if (!FReady) return -1;
  std::lock_guard guard(FStatusLock);
  std::int32_t read = FHandle->Read(Buffer, Count);
  if (read < 0) NoteGone();
  return read < 0 ? 0 : read;
}

bool TAfComPortCore::QueueOutput(const void* Buffer, std::int32_t Count) {
  if (!FReady) return false;
  std::lock_guard guard(FWriteLock);
  if (!FWriteThread->FBuffer.Write(Buffer, Count)) return false;
  FWriteThread->Signal(TAfComPortWriteThread::sgDataReady);
  return true;
}

std::int32_t TAfComPortCore::OutputSpace() {
  if (!FReady) return 0;
  std::lock_guard guard(FWriteLock);
  return FWriteThread->FBuffer.FreeSpace();
}

bool TAfComPortCore::PurgeInput() {
  if (!FReady) return false;
  std::lock_guard guard(FStatusLock);
  return FHandle->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR);
}

bool TAfComPortCore::PurgeOutput() {
  if (!FReady) return false;
  return FWriteThread->Purge();
}

COMSTAT TAfComPortCore::LineStatusLocked() {
  std::uint32_t errors = 0;
  COMSTAT stat;
  if (!FHandle->ClearCommError(errors, stat)) {
    NoteGone();
    return COMSTAT{};
  }
  FLineErrors |= errors;
  return stat;
}

COMSTAT TAfComPortCore::LineStatus() {
  if (!FReady) return COMSTAT{};
  std::lock_guard guard(FStatusLock);
  return LineStatusLocked();
}

bool TAfComPortCore::PollLineStatus(COMSTAT& Stat, const std::atomic<bool>& Stop) {
  std::unique_lock guard(FStatusLock, std::defer_lock);
  // The lock is held for long only by a closer, which sets Stop before it waits for this
  // thread; a plain try loop keeps to the locking that every checking tool understands.
  while (!guard.try_lock()) {
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
  std::lock_guard guard(FStatusLock);
  // Errors still held by the driver belong to this take: without this an error event would
  // report nothing unless the status happened to be read in between.
  LineStatusLocked();
  std::uint32_t errors = FLineErrors;
  FLineErrors = 0;
  return errors;
}

std::uint32_t TAfComPortCore::ModemLines() {
  if (!FReady) return 0;
  std::uint32_t status = 0;
  return FHandle->GetCommModemStatus(status) ? status : 0;
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
