#pragma once
// A simulated serial line for tests of the port engine: the test plays the far end and the
// driver (received bytes, modem lines, line errors, stalled writes, refused settings) and sees
// what the engine did (bytes written, purges, control lines, settings in force).
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "serial/AfComDevice.h"

class TAfSimLine {
 public:
  TAfSimLine();

  // The far end sends bytes: they join the input queue and raise EV_RXCHAR.
  void Receive(std::string_view Bytes);
  // New modem status bits (MS_*); each changed line raises its event.
  void SetModemStatus(std::uint32_t Status);
  // Line errors (CE_*) reported by the driver; raises EV_ERR.
  void InjectErrors(std::uint32_t Errors);
  // While stalled, writes wait (and can then only end by being woken).
  void SetWriteStalled(bool Stalled);
  // Every settings change is refused while set.
  void SetRefuseSettings(bool Refuse);
  // The line is hung up, as a pulled cable does: every operation of the open device fails and
  // a wait ends with Gone. Opening the line again takes the hang-up back.
  void HangUp();
  // While set, opening the line is refused as a tty without the user's permission is.
  void SetDenied(bool Denied);
  bool Denied() const;

  std::string Written() const;
  std::uint32_t InputCount() const;
  DCB Settings() const;
  std::uint32_t ControlLines() const;  // MS-like bits: 1 = DTR, 2 = RTS
  std::vector<std::uint32_t> Purges() const;
  bool IsOpen() const;
  std::uint32_t Mask() const;
  // Wait for a write to be in progress while stalled (test synchronisation).
  bool WaitForStalledWrite(int TimeoutMs) const;

  static constexpr std::uint32_t LineDtr = 1, LineRts = 2;

 private:
  friend class TAfSimComDevice;
  // Runs Action under the line's lock and returns what it returns.
  template <class TAction>
  auto Locked(TAction Action) const {
    std::lock_guard guard(FLock);
    return Action();
  }
  // Changes the line under its lock, then wakes every wait on it.
  template <class TChange>
  void ChangeAndWake(TChange Change) {
    Locked(Change);
    FChanged.notify_all();
  }

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::string FInput;
  std::string FWritten;
  std::uint32_t FPending = 0;  // events not yet taken by a wait
  std::uint32_t FMask = 0;
  bool FMaskCleared = false;
  bool FEventWake = false;
  bool FWriteWake = false;
  bool FWriteStalled = false;
  bool FWriteWaiting = false;
  bool FRefuse = false;
  bool FOpen = false;
  bool FHungUp = false;
  bool FDenied = false;
  std::uint32_t FErrors = 0;
  std::uint32_t FModem = 0;
  std::uint32_t FControl = 0;
  DCB FSettings;
  std::vector<std::uint32_t> FPurges;
};

class TAfSimComDevice : public TAfComDevice {
 public:
  explicit TAfSimComDevice(std::shared_ptr<TAfSimLine> Line);
  ~TAfSimComDevice() override;

  bool SetTimeouts() override { return true; }
  bool SetupComm(std::int32_t InQueue, std::int32_t OutQueue) override;
  bool SetCommMask(std::uint32_t Mask) override;
  bool SetCommState(const DCB& Dcb) override;
  bool GetCommState(DCB& Dcb) override;
  TAfWaitResult WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) override;
  void WakeEventWait() override;
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  TAfWriteResult Write(const void* Buffer, std::int32_t Count, std::int32_t& Written) override;
  void WakeWrite() override;
  bool ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) override;
  bool PurgeComm(std::uint32_t Flags) override;
  bool EscapeCommFunction(std::uint32_t Function) override;
  bool GetCommModemStatus(std::uint32_t& Status) override;
  bool Gone() const override;

 private:
  std::shared_ptr<TAfSimLine> FLine;
};

// A factory serving the given lines by port number: other numbers are not found, and a line
// that is already open cannot be opened again.
TAfComDeviceFactory AfSimComDeviceFactory(
    std::map<std::int32_t, std::shared_ptr<TAfSimLine>> Lines);
