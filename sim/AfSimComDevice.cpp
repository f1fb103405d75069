#include "sim/AfSimComDevice.h"

#include <chrono>
#include <cstring>

TAfSimLine::TAfSimLine() {
  FSettings.BaudRate = 9600;
  FSettings.ByteSize = 8;
  FSettings.Flags = fBinary;
}

void TAfSimLine::Receive(std::string_view Bytes) {
  ChangeAndWake([&] {
    FInput.append(Bytes);
    FPending |= EV_RXCHAR;
  });
}

void TAfSimLine::SetModemStatus(std::uint32_t Status) {
  ChangeAndWake([&] {
    FPending |= AfModemEvents(FModem, Status);
    FModem = Status;
  });
}

void TAfSimLine::InjectErrors(std::uint32_t Errors) {
  ChangeAndWake([&] {
    FErrors |= Errors;
    FPending |= EV_ERR;
  });
}

void TAfSimLine::SetWriteStalled(bool Stalled) {
  ChangeAndWake([&] { FWriteStalled = Stalled; });
}

void TAfSimLine::SetRefuseSettings(bool Refuse) {
  Locked([&] { FRefuse = Refuse; });
}

void TAfSimLine::HangUp() {
  ChangeAndWake([&] { FHungUp = true; });
}

void TAfSimLine::SetDenied(bool Denied) {
  Locked([&] { FDenied = Denied; });
}

bool TAfSimLine::Denied() const {
  return Locked([&] { return FDenied; });
}

std::string TAfSimLine::Written() const {
  return Locked([&] { return FWritten; });
}

std::uint32_t TAfSimLine::InputCount() const {
  return Locked([&] { return static_cast<std::uint32_t>(FInput.size()); });
}

DCB TAfSimLine::Settings() const {
  return Locked([&] { return FSettings; });
}

std::uint32_t TAfSimLine::ControlLines() const {
  return Locked([&] { return FControl; });
}

std::vector<std::uint32_t> TAfSimLine::Purges() const {
  return Locked([&] { return FPurges; });
}

bool TAfSimLine::IsOpen() const {
  return Locked([&] { return FOpen; });
}

std::uint32_t TAfSimLine::Mask() const {
  return Locked([&] { return FMask; });
}

bool TAfSimLine::WaitForStalledWrite(int TimeoutMs) const {
  std::unique_lock guard(FLock);
  return FChanged.wait_for(guard, std::chrono::milliseconds(TimeoutMs),
                           [this] { return FWriteWaiting; });
}

TAfSimComDevice::TAfSimComDevice(std::shared_ptr<TAfSimLine> Line) : FLine(std::move(Line)) {
  std::lock_guard guard(FLine->FLock);
  FLine->FOpen = true;
  FLine->FHungUp = false;
  FLine->FPending = 0;
  FLine->FEventWake = FLine->FWriteWake = FLine->FMaskCleared = false;
}

TAfSimComDevice::~TAfSimComDevice() {
  std::lock_guard guard(FLine->FLock);
  FLine->FOpen = false;
  FLine->FMask = 0;
}

bool TAfSimComDevice::SetupComm(std::int32_t InQueue, std::int32_t OutQueue) {
  return InQueue > 0 && OutQueue > 0;
}

bool TAfSimComDevice::SetCommMask(std::uint32_t Mask) {
  {
    std::lock_guard guard(FLine->FLock);
    FLine->FMask = Mask;
    if (Mask == 0) FLine->FMaskCleared = true;
  }
  FLine->FChanged.notify_all();
  return true;
}

bool TAfSimComDevice::SetCommState(const DCB& Dcb) {
  std::lock_guard guard(FLine->FLock);
  if (FLine->FRefuse || !AfDcbSupported(Dcb)) return false;
  FLine->FSettings = Dcb;
  // The control lines follow the record, as a driver sets them when it applies one.
  auto follow = [&](std::uint32_t Bit, std::uint32_t Control, std::uint32_t Enable) {
    if ((Dcb.Flags & Control) == Enable)
      FLine->FControl |= Bit;
    else if ((Dcb.Flags & Control) == 0)
      FLine->FControl &= ~Bit;
  };
  follow(TAfSimLine::LineDtr, fDtrControlMask, fDtrControlEnable);
  follow(TAfSimLine::LineRts, fRtsControlMask, fRtsControlEnable);
  return true;
}

bool TAfSimComDevice::GetCommState(DCB& Dcb) {
  std::lock_guard guard(FLine->FLock);
  Dcb = FLine->FSettings;
  return true;
}

TAfWaitResult TAfSimComDevice::WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) {
  TAfSimLine& line = *FLine;
  std::unique_lock guard(line.FLock);
  bool ended = line.FChanged.wait_for(guard, std::chrono::milliseconds(TimeoutMs), [&] {
    return line.FEventWake || line.FMaskCleared || line.FHungUp ||
           (line.FPending & line.FMask) != 0;
  });
  if (!ended) return TAfWaitResult::Timeout;
  if (line.FHungUp && !line.FMaskCleared && !line.FEventWake) return TAfWaitResult::Gone;
  if (line.FEventWake) {
    line.FEventWake = false;
    return TAfWaitResult::Woken;
  }
  if (line.FMaskCleared) {
    line.FMaskCleared = false;
    Mask = 0;
    return TAfWaitResult::Event;
  }
  Mask = line.FPending & line.FMask;
  line.FPending &= ~Mask;
  return TAfWaitResult::Event;
}

void TAfSimComDevice::WakeEventWait() {
  {
    std::lock_guard guard(FLine->FLock);
    FLine->FEventWake = true;
  }
  FLine->FChanged.notify_all();
}

std::int32_t TAfSimComDevice::Read(void* Buffer, std::int32_t Count) {
  if (Count < 0) return -1;
  std::lock_guard guard(FLine->FLock);
  if (FLine->FHungUp) return -1;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Count), FLine->FInput.size());
  std::memcpy(Buffer, FLine->FInput.data(), n);
  FLine->FInput.erase(0, n);
  return static_cast<std::int32_t>(n);
}

TAfWriteResult TAfSimComDevice::Write(const void* Buffer, std::int32_t Count,
                                      std::int32_t& Written) {
  TAfSimLine& line = *FLine;
  Written = 0;
  {
    std::unique_lock guard(line.FLock);
    line.FWriteWaiting = line.FWriteStalled;
    line.FChanged.notify_all();
    line.FChanged.wait(guard,
                       [&] { return line.FWriteWake || line.FHungUp || !line.FWriteStalled; });
    line.FWriteWaiting = false;
    if (line.FHungUp) return TAfWriteResult::Failed;
    if (line.FWriteWake) {
      line.FWriteWake = false;
      if (line.FWriteStalled) return TAfWriteResult::Woken;
    }
    line.FWritten.append(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
  }
  Written = Count;
  return TAfWriteResult::Done;
}

void TAfSimComDevice::WakeWrite() {
  {
    std::lock_guard guard(FLine->FLock);
    FLine->FWriteWake = true;
  }
  FLine->FChanged.notify_all();
}

bool TAfSimComDevice::ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) {
  std::lock_guard guard(FLine->FLock);
  if (FLine->FHungUp) return false;
  Errors = FLine->FErrors;
  FLine->FErrors = 0;
  Stat = COMSTAT{0, static_cast<std::uint32_t>(FLine->FInput.size()), 0};
  return true;
}

bool TAfSimComDevice::PurgeComm(std::uint32_t Flags) {
  std::lock_guard guard(FLine->FLock);
  if (FLine->FHungUp) return false;
  FLine->FPurges.push_back(Flags);
  if (Flags & PURGE_RXCLEAR) FLine->FInput.clear();
  return true;
}

bool TAfSimComDevice::EscapeCommFunction(std::uint32_t Function) {
  std::uint32_t line;
  if (Function == SETDTR || Function == CLRDTR)
    line = TAfSimLine::LineDtr;
  else if (Function == SETRTS || Function == CLRRTS)
    line = TAfSimLine::LineRts;
  else
    return false;
  std::lock_guard guard(FLine->FLock);
  if (Function == SETDTR || Function == SETRTS)
    FLine->FControl |= line;
  else
    FLine->FControl &= ~line;
  return true;
}

bool TAfSimComDevice::GetCommModemStatus(std::uint32_t& Status) {
  std::lock_guard guard(FLine->FLock);
  Status = FLine->FHungUp ? 0 : FLine->FModem;
  return !FLine->FHungUp;
}

bool TAfSimComDevice::Gone() const {
  std::lock_guard guard(FLine->FLock);
  return FLine->FHungUp;
}

TAfComDeviceFactory AfSimComDeviceFactory(
    std::map<std::int32_t, std::shared_ptr<TAfSimLine>> Lines) {
  return [lines = std::move(Lines)](std::int32_t Port,
                                    TAfOpenError& Error) -> std::unique_ptr<TAfComDevice> {
    auto it = lines.find(Port);
    if (it == lines.end()) {
      Error = TAfOpenError::NotFound;
      return nullptr;
    }
    if (it->second->IsOpen()) {
      Error = TAfOpenError::InUse;
      return nullptr;
    }
    if (it->second->Denied()) {
      Error = TAfOpenError::Denied;
      return nullptr;
    }
    return std::make_unique<TAfSimComDevice>(it->second);
  };
}
