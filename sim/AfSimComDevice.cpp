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
  std::unique_lock Guard(FLock);
  return FChanged.wait_for(Guard, std::chrono::milliseconds(TimeoutMs),
                           [this] { return FWriteWaiting; });
}

TAfSimComDevice::TAfSimComDevice(std::shared_ptr<TAfSimLine> Line) : FLine(std::move(Line)) {
  std::lock_guard Guard(FLine->FLock);
  FLine->FOpen = true;
  FLine->FHungUp = false;
  FLine->FPending = 0;
  FLine->FEventWake = FLine->FWriteWake = FLine->FMaskCleared = false;
}

TAfSimComDevice::~TAfSimComDevice() {
  std::lock_guard Guard(FLine->FLock);
  FLine->FOpen = false;
  FLine->FMask = 0;
}

bool TAfSimComDevice::SetupComm(std::int32_t InQueue, std::int32_t OutQueue) {
  return InQueue > 0 && OutQueue > 0;
}

bool TAfSimComDevice::SetCommMask(std::uint32_t Mask) {
  {
    std::lock_guard Guard(FLine->FLock);
    FLine->FMask = Mask;
    if (Mask == 0) FLine->FMaskCleared = true;
  }
  FLine->FChanged.notify_all();
  return true;
}

bool TAfSimComDevice::SetCommState(const DCB& Dcb) {
  std::lock_guard Guard(FLine->FLock);
  if (FLine->FRefuse || !AfDcbSupported(Dcb)) return false;
  FLine->FSettings = Dcb;
  // The control lines follow the record, as a driver sets them when it applies one.
  auto Follow = [&](std::uint32_t Bit, std::uint32_t Control, std::uint32_t Enable) {
    if ((Dcb.Flags & Control) == Enable)
      FLine->FControl |= Bit;
    else if ((Dcb.Flags & Control) == 0)
      FLine->FControl &= ~Bit;
  };
  Follow(TAfSimLine::LineDtr, fDtrControlMask, fDtrControlEnable);
  Follow(TAfSimLine::LineRts, fRtsControlMask, fRtsControlEnable);
  return true;
}

bool TAfSimComDevice::GetCommState(DCB& Dcb) {
  std::lock_guard Guard(FLine->FLock);
  Dcb = FLine->FSettings;
  return true;
}

TAfWaitResult TAfSimComDevice::WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) {
  TAfSimLine& L = *FLine;
  std::unique_lock Guard(L.FLock);
  bool Ended = L.FChanged.wait_for(Guard, std::chrono::milliseconds(TimeoutMs), [&] {
    return L.FEventWake || L.FMaskCleared || L.FHungUp || (L.FPending & L.FMask) != 0;
  });
  if (!Ended) return TAfWaitResult::Timeout;
  if (L.FHungUp && !L.FMaskCleared && !L.FEventWake) return TAfWaitResult::Gone;
  if (L.FEventWake) {
    L.FEventWake = false;
    return TAfWaitResult::Woken;
  }
  if (L.FMaskCleared) {
    L.FMaskCleared = false;
    Mask = 0;
    return TAfWaitResult::Event;
  }
  Mask = L.FPending & L.FMask;
  L.FPending &= ~Mask;
  return TAfWaitResult::Event;
}

void TAfSimComDevice::WakeEventWait() {
  {
    std::lock_guard Guard(FLine->FLock);
    FLine->FEventWake = true;
  }
  FLine->FChanged.notify_all();
}

std::int32_t TAfSimComDevice::Read(void* Buffer, std::int32_t Count) {
  if (Count < 0) return -1;
  std::lock_guard Guard(FLine->FLock);
  if (FLine->FHungUp) return -1;
  std::size_t N = std::min<std::size_t>(static_cast<std::size_t>(Count), FLine->FInput.size());
  std::memcpy(Buffer, FLine->FInput.data(), N);
  FLine->FInput.erase(0, N);
  return static_cast<std::int32_t>(N);
}

TAfWriteResult TAfSimComDevice::Write(const void* Buffer, std::int32_t Count,
                                      std::int32_t& Written) {
  TAfSimLine& L = *FLine;
  Written = 0;
  {
    std::unique_lock Guard(L.FLock);
    L.FWriteWaiting = L.FWriteStalled;
    L.FChanged.notify_all();
    L.FChanged.wait(Guard, [&] { return L.FWriteWake || L.FHungUp || !L.FWriteStalled; });
    L.FWriteWaiting = false;
    if (L.FHungUp) return TAfWriteResult::Failed;
    if (L.FWriteWake) {
      L.FWriteWake = false;
      if (L.FWriteStalled) return TAfWriteResult::Woken;
    }
    L.FWritten.append(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
  }
  Written = Count;
  return TAfWriteResult::Done;
}

void TAfSimComDevice::WakeWrite() {
  {
    std::lock_guard Guard(FLine->FLock);
    FLine->FWriteWake = true;
  }
  FLine->FChanged.notify_all();
}

bool TAfSimComDevice::ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) {
  std::lock_guard Guard(FLine->FLock);
  if (FLine->FHungUp) return false;
  Errors = FLine->FErrors;
  FLine->FErrors = 0;
  Stat = COMSTAT{0, static_cast<std::uint32_t>(FLine->FInput.size()), 0};
  return true;
}

bool TAfSimComDevice::PurgeComm(std::uint32_t Flags) {
  std::lock_guard Guard(FLine->FLock);
  if (FLine->FHungUp) return false;
  FLine->FPurges.push_back(Flags);
  if (Flags & PURGE_RXCLEAR) FLine->FInput.clear();
  return true;
}

bool TAfSimComDevice::EscapeCommFunction(std::uint32_t Function) {
  std::lock_guard Guard(FLine->FLock);
  switch (Function) {
    case SETDTR:
      FLine->FControl |= TAfSimLine::LineDtr;
      return true;
    case CLRDTR:
      FLine->FControl &= ~TAfSimLine::LineDtr;
      return true;
    case SETRTS:
      FLine->FControl |= TAfSimLine::LineRts;
      return true;
    case CLRRTS:
      FLine->FControl &= ~TAfSimLine::LineRts;
      return true;
  }
  return false;
}

bool TAfSimComDevice::GetCommModemStatus(std::uint32_t& Status) {
  std::lock_guard Guard(FLine->FLock);
  Status = FLine->FHungUp ? 0 : FLine->FModem;
  return !FLine->FHungUp;
}

bool TAfSimComDevice::Gone() const {
  std::lock_guard Guard(FLine->FLock);
  return FLine->FHungUp;
}

TAfComDeviceFactory AfSimComDeviceFactory(
    std::map<std::int32_t, std::shared_ptr<TAfSimLine>> Lines) {
  return [Lines = std::move(Lines)](std::int32_t Port,
                                    TAfOpenError& Error) -> std::unique_ptr<TAfComDevice> {
    auto It = Lines.find(Port);
    if (It == Lines.end()) {
      Error = TAfOpenError::NotFound;
      return nullptr;
    }
    if (It->second->IsOpen()) {
      Error = TAfOpenError::InUse;
      return nullptr;
    }
    if (It->second->Denied()) {
      Error = TAfOpenError::Denied;
      return nullptr;
    }
    return std::make_unique<TAfSimComDevice>(It->second);
  };
}
