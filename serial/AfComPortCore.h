#pragma once
// One open serial port: opens the device, applies queue sizes, event mask and line settings,
// and runs two worker threads while open. The event thread waits for line events and reports
// them (with "bytes waiting" and "output drained" notices) through one handler; the write
// thread drains an output ring so that a caller's write returns at once.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/AfComDevice.h"
#include "serial/AfSignals.h"
#include "support/uErrors.h"

// ceDeviceGone: the line was hung up; the event thread has ended and the port should be closed.
enum TAfCoreEvent { ceOutFree, ceLineEvent, ceNeedReadData, ceException, ceDeviceGone };

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class EAfComPortCoreError : public Exception {
 public:
  using Exception::Exception;
};

class TAfComPortCore;
class TAfComPortCoreThread;
class TAfComPortEventThread;
class TAfComPortWriteThread;

// Called on the event thread. For ceException, Error carries the exception and Data is 0.
using TAfCoreEventHandler = std::function<void(TAfComPortCore* Sender, TAfCoreEvent EventKind,
                                               std::uint32_t Data, std::exception_ptr Error)>;

class TAfComPortCore {
 public:
  TAfComPortCore();
  ~TAfComPortCore();
  TAfComPortCore(const TAfComPortCore&) = delete;
  TAfComPortCore& operator=(const TAfComPortCore&) = delete;

  // False if already active; raises EAfComPortCoreError when the port cannot be opened.
  bool OpenPort(std::int32_t PortNumber);
  void ClosePort();

  // -1 when not ready; else the bytes read (0 on failure).
  std::int32_t ReadInput(void* Buffer, std::int32_t Count);
  // All or nothing; false when not ready.
  bool QueueOutput(const void* Buffer, std::int32_t Count);
  std::int32_t OutputSpace();
  bool PurgeInput();
  bool PurgeOutput();
  // All zero when not ready or the device fails; ORs the device's error word into the line
  // errors.
  COMSTAT LineStatus();
  // The line errors gathered so far, including those the device still holds; resets them.
  std::uint32_t TakeLineErrors();
  std::uint32_t ModemLines();
  bool EscapeLine(std::uint32_t Function);
  // Stored; applied at once when ready. A refused record leaves the device's own settings in
  // Dcb() and raises.
  void ApplyDcb(const DCB& Dcb);
  const DCB& Dcb() const { return FDcb; }

  std::int32_t InQueueSize() const { return FInQueueSize; }
  void SetInQueueSize(std::int32_t Value) { FInQueueSize = Value; }
  std::int32_t OutQueueSize() const { return FOutQueueSize; }
  void SetOutQueueSize(std::int32_t Value) { FOutQueueSize = Value; }
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority Value);
  TThreadPriority WriteThreadPriority() const { return FWriteThreadPriority; }
  void SetWriteThreadPriority(TThreadPriority Value);

  bool Active() const { return FActive; }
  // Why the last open failed to get the device (None after a successful one).
  TAfOpenError OpenError() const { return FOpenError; }
  // The line was hung up (cable or adapter pulled); stays so until the next open.
  bool Gone() const { return FGone; }
  TAfComDevice* Handle() const { return FHandle.get(); }
  std::int32_t PortNumber() const { return FPortNumber; }
  // Set before opening; each event thread takes a copy when it is created.
  void SetOnEvent(TAfCoreEventHandler Handler) { FOnEvent = std::move(Handler); }

 private:
  friend class TAfComPortCoreThread;
  friend class TAfComPortEventThread;
  friend class TAfComPortWriteThread;

  void CloseSequence();
  // Joins the event threads that a close from their own handler left running, except the
  // caller's own.
  void JoinRetiredEventThreads();
  // The event thread's poll: gives up (false) when Stop becomes set while the lock is taken by
  // a closer.
  bool PollLineStatus(COMSTAT& Stat, const std::atomic<bool>& Stop);
  COMSTAT LineStatusLocked();
  // Takes note when the device says the line was hung up; true then.
  bool NoteGone();
  void WaitThreadStarted();

  std::atomic<bool> FReady{false};
  std::atomic<bool> FGone{false};
  TAfOpenError FOpenError = TAfOpenError::None;
  std::int32_t FPortNumber = 0;
  DCB FDcb;
  const std::uint32_t FEventMask =
      EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
  std::unique_ptr<TAfComDevice> FHandle;
  bool FActive = false;
  std::uint32_t FLineErrors = 0;  // guarded by FStatusLock
  std::int32_t FInQueueSize = 8192;
  std::int32_t FOutQueueSize = 4096;
  TAfCoreEventHandler FOnEvent;
  std::mutex FStatusLock;
  std::mutex FWriteLock;
  std::unique_ptr<TAfComPortEventThread> FEventThread;
  std::vector<std::unique_ptr<TAfComPortEventThread>> FRetiredEventThreads;
  TAfSignals FThreadStarted;
  std::atomic<bool> FTransmitDone{false};
  std::unique_ptr<TAfComPortWriteThread> FWriteThread;
  TThreadPriority FWriteThreadPriority = tpHigher;
  TThreadPriority FEventThreadPriority = tpNormal;
};
