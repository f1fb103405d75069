#pragma once
// The serial port component: published line settings kept in step with the DCB, one port core
// doing the I/O, and every port event delivered on the main thread through a sync slot, so
// that handlers may touch the user interface.
#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serial/AfComPortCore.h"
#include "serial/AfDataDispatcher.h"

enum TAfBaudrate {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br230400,
  br256000,
  br460800,
  br921600,
  brUser
};
enum TAfDatabits { db4, db5, db6, db7, db8 };
enum TAfParity { paNone, paOdd, paEven, paMark, paSpace };
enum TAfStopbits { sbOne, sbOneAndHalf, sbTwo };
enum TAfFlowControl { fwNone, fwXOnXOff, fwRtsCts, fwDtrDsr };
enum TAfComOption {
  coParityCheck,
  coDsrSensitivity,
  coIgnoreXOff,
  coErrorChar,
  coStripNull,
  coBreakControl
};
// A set of TAfComOption: bit (1 << option).
using TAfComOptions = std::uint8_t;
constexpr TAfComOptions AfOption(TAfComOption Option) {
  return TAfComOptions(1u << Option);
}

// The DCB rate of each TAfBaudrate below brUser.
extern const std::uint32_t AfBaudRates[brUser];

class EAfComPortError : public Exception {
 public:
  using Exception::Exception;
};

class TAfCustomSerialPort;
using TNotifyEvent = std::function<void(TAfCustomSerialPort* Sender)>;
using TAfCPTCoreEvent =
    std::function<void(TAfCustomSerialPort* Sender, TAfCoreEvent EventKind, std::uint32_t Data)>;
using TAfCPTErrorEvent = std::function<void(TAfCustomSerialPort* Sender, std::uint32_t Errors)>;
using TAfCPTDataReceivedEvent =
    std::function<void(TAfCustomSerialPort* Sender, std::int32_t Count)>;

// The platform's port settings dialog: shows Dcb for the port, edits it in place, and tells
// whether the user confirmed. The user interface installs it; without one no dialog is shown.
using TAfComSetupDialog = std::function<bool(const std::string& PortName, DCB& Dcb)>;
void SetAfComSetupDialog(TAfComSetupDialog Dialog);

class TAfCustomSerialPort : public TAfDataDispConnComponent {
 public:
  TAfCustomSerialPort();
  ~TAfCustomSerialPort() override;
  TAfCustomSerialPort(const TAfCustomSerialPort&) = delete;
  TAfCustomSerialPort& operator=(const TAfCustomSerialPort&) = delete;

  void Open() override;
  void Close() override;
  bool Active() const;
  // The line was hung up (cable or adapter pulled). The port closes itself on the main thread
  // (OnPortClose); until it is opened again the input count is -1.
  bool DeviceGone() const { return FCore->Gone(); }
  TAfOpenError OpenError() const { return FCore->OpenError(); }
  TAfComDevice* Handle() const { return FCore->Handle(); }
  // After loading from a form: opens when AutoOpen, else builds the line settings.
  void Loaded();

  void ReadData(void* Buffer, std::int32_t Count);
  std::string ReadString();
  void WriteData(const void* Buffer, std::int32_t Count) override;
  void WriteString(const std::string& Data);
  // -1 when the line was hung up.
  std::int32_t InQueueCount();
  std::int32_t OutputSpace();
  void PurgeInput();
  void PurgeOutput();
  // Line 1 CTS, 2 DSR, 3 RING, 4 RLSD.
  bool ModemLine(int Line);
  virtual bool ShowSetupDialog() = 0;
  // Takes a DCB (from the setup dialog) into the properties and rebuilds the line settings.
  void SetDcbProperties(const DCB& Dcb);

  const DCB& Dcb() const { return FDCB; }

  bool AutoOpen() const { return FAutoOpen; }
  void SetAutoOpen(bool Value) { FAutoOpen = Value; }
  TAfBaudrate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TAfBaudrate Value);
  TAfDatabits Databits() const { return FDatabits; }
  void SetDatabits(TAfDatabits Value);
  bool DTR() const { return FDTR; }
  void SetDTR(bool Value);
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority Value) { FEventThreadPriority = Value; }
  TAfFlowControl FlowControl() const { return FFlowControl; }
  void SetFlowControl(TAfFlowControl Value);
  std::int32_t InBufSize() const { return FInBufSize; }
  void SetInBufSize(std::int32_t Value);
  TAfComOptions Options() const { return FOptions; }
  void SetOptions(TAfComOptions Value);
  std::int32_t OutBufSize() const { return FOutBufSize; }
  void SetOutBufSize(std::int32_t Value);
  TAfParity Parity() const { return FParity; }
  void SetParity(TAfParity Value);
  bool RTS() const { return FRTS; }
  void SetRTS(bool Value);
  TAfStopbits Stopbits() const { return FStopbits; }
  void SetStopbits(TAfStopbits Value);
  std::int32_t UserBaudRate() const { return FUserBaudRate; }
  void SetUserBaudRate(std::int32_t Value);
  TThreadPriority WriteThreadPriority() const { return FWriteThreadPriority; }
  void SetWriteThreadPriority(TThreadPriority Value) { FWriteThreadPriority = Value; }
  char XOnChar() const { return FXOnChar; }
  void SetXOnChar(char Value);
  char XOffChar() const { return FXOffChar; }
  void SetXOffChar(char Value);
  std::uint16_t XOnLim() const { return FXOnLim; }
  void SetXOnLim(std::uint16_t Value);
  std::uint16_t XOffLim() const { return FXOffLim; }
  void SetXOffLim(std::uint16_t Value);

  // Runs on the event thread; set it before opening.
  TAfCPTCoreEvent OnNonSyncEvent() const;
  void SetOnNonSyncEvent(TAfCPTCoreEvent Handler);

  // Main-thread events.
  TNotifyEvent OnCTSChanged;
  TAfCPTDataReceivedEvent OnDataRecived;
  TNotifyEvent OnDSRChanged;
  TAfCPTErrorEvent OnLineError;
  TNotifyEvent OnOutBufFree;
  TNotifyEvent OnPortClose;
  TNotifyEvent OnPortOpen;
  TNotifyEvent OnRINGDetected;
  TNotifyEvent OnRLSDChanged;
  TAfCPTCoreEvent OnSyncEvent;

 protected:
  virtual void OpenDevice() = 0;
  // Raises EAfComPortError with "<Message> - <Name> ".
  [[noreturn]] virtual void RaisePortError(const std::string& Message);
  void EnsureClosed();
  void UpdateDCB();
  TAfComPortCore& Core() { return *FCore; }

 private:
  void CoreEvent(TAfCoreEvent Kind, std::uint32_t Data, std::exception_ptr Error);
  void SyncDispatch();
  // Each handler only while Alive: one of them may destroy the port.
  void LineNotifications(std::uint32_t Mask, const std::atomic<bool>& Alive);
  void UpdateFlowLimits();
  // The properties of a DCB (DTR and RTS excepted), without applying it.
  void TakeDcbProperties(const DCB& Dcb);

  bool FAutoOpen = false;
  TAfBaudrate FBaudRate = br115200;
  std::atomic<bool> FClosing{false};
  std::atomic<bool> FDestroying{false};
  // False once the destructor runs; shared with a main-thread dispatch in progress.
  std::shared_ptr<std::atomic<bool>> FAlive = std::make_shared<std::atomic<bool>>(true);
  std::unique_ptr<TAfComPortCore> FCore;
  TAfDatabits FDatabits = db8;
  DCB FDCB;
  bool FDTR = true;
  TThreadPriority FEventThreadPriority = tpNormal;
  TAfFlowControl FFlowControl = fwNone;
  std::int32_t FInBufSize = 4096;
  TAfComOptions FOptions = 0;
  std::int32_t FOutBufSize = 2048;
  TAfParity FParity = paNone;
  bool FRTS = true;
  TAfStopbits FStopbits = sbOne;
  std::int32_t FSyncSlotId = 0;
  std::int32_t FUserBaudRate = 0;
  char FXOnChar = 17;
  char FXOffChar = 19;
  std::uint16_t FXOnLim = 0;
  std::uint16_t FXOffLim = 0;
  struct TPendingEvent {
    TAfCoreEvent Kind = ceOutFree;
    std::uint32_t Data = 0;
    std::exception_ptr Error;
  };
  mutable std::mutex FEventLock;  // the non-sync handler and the pending events
  TAfCPTCoreEvent FOnNonSyncEvent;
  // One entry per call of the sync slot, taken in order by the main-thread dispatch: an event
  // whose delivery outlasted its wait is still delivered once, as itself.
  std::deque<TPendingEvent> FPending;
  TThreadPriority FWriteThreadPriority = tpHighest;
};

class TAfCustomComPort : public TAfCustomSerialPort {
 public:
  std::uint16_t ComNumber() const { return FComNumber; }
  // An open port is closed and opened again on the new number.
  void SetComNumber(std::uint16_t Value);
  bool ShowSetupDialog() override;
  std::string PortName() const;

 protected:
  void OpenDevice() override;

 private:
  std::uint16_t FComNumber = 0;
};

class TAfComPort : public TAfCustomComPort {};
