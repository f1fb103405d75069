// Over 400 lines for a reason: one class and its settings record. About half are the
// property setters, each a few lines that keep one setting and the record in step; apart they
// would only be harder to check against each other.
#include "serial/AfComPort.h"

#include "serial/AfSafeSync.h"
#include "serial/uCommunicationUtils.h"
#include "support/uStringUtils.h"

const std::uint32_t AfBaudRates[brUser] = {110,    300,    600,    1200,   2400,   4800,
                                           9600,   14400,  19200,  38400,  56000,  57600,
                                           115200, 128000, 230400, 256000, 460800, 921600};

namespace {

constexpr std::uint32_t FlowBits[] = {0, fOutX | fInX, fOutxCtsFlow | fRtsControlHandshake,
                                      fOutxDsrFlow | fDtrControlHandshake};
constexpr std::uint32_t OptionBits[] = {fParity,    fDsrSensitivity, fTXContinueOnXoff,
                                        fErrorChar, fNull,           fAbortOnError};
constexpr std::uint32_t SyncTimeoutMs = 2000;

std::mutex GDialogLock;
TAfComSetupDialog GDialog;

template <typename T>
void Fire(const T& Handler, TAfCustomSerialPort* Sender) {
  if (Handler) Handler(Sender);
}

}  // namespace

void SetAfComSetupDialog(TAfComSetupDialog Dialog) {
  std::lock_guard guard(GDialogLock);
  GDialog = std::move(Dialog);
}

TAfCustomSerialPort::TAfCustomSerialPort() {
  FSyncSlotId = AllocateSyncSlot([this](int) { SyncDispatch(); });
  FCore = std::make_unique<TAfComPortCore>();
  FCore->SetOnEvent([this](TAfComPortCore*, TAfCoreEvent Kind, std::uint32_t Data,
                           std::exception_ptr Error) { CoreEvent(Kind, Data, Error); });
  UpdateDCB();
}

TAfCustomSerialPort::~TAfCustomSerialPort() {
  *FAlive = false;
  FDestroying = true;
  ReleaseSyncSlot(FSyncSlotId);
  FCore.reset();
}

bool TAfCustomSerialPort::Active() const {
  return FCore && FCore->Active();
}

void TAfCustomSerialPort::Loaded() {
  if (FAutoOpen)
    Open();
  else
    UpdateDCB();
}

void TAfCustomSerialPort::UpdateDCB() {
  FDCB = DCB{};
  FDCB.BaudRate =
      FBaudRate == brUser ? static_cast<std::uint32_t>(FUserBaudRate) : AfBaudRates[FBaudRate];
  FDCB.ByteSize = static_cast<std::uint8_t>(FDatabits + 4);
  FDCB.Parity = static_cast<std::uint8_t>(FParity);
  FDCB.StopBits = static_cast<std::uint8_t>(FStopbits);
  FDCB.XonChar = FXOnChar;
  FDCB.XoffChar = FXOffChar;
  FDCB.XonLim = FXOnLim;
  FDCB.XoffLim = FXOffLim;
  FDCB.Flags = FlowBits[FFlowControl] | fBinary;
  for (int option = coParityCheck; option <= coBreakControl; ++option)
    if (FOptions & AfOption(TAfComOption(option))) FDCB.Flags |= OptionBits[option];
  if (FDTR && FFlowControl != fwDtrDsr) FDCB.Flags |= fDtrControlEnable;
  if (FRTS && FFlowControl != fwRtsCts) FDCB.Flags |= fRtsControlEnable;
  if (!Active()) return;
  try {
    FCore->ApplyDcb(FDCB);
  } catch (...) {
    // The line keeps its settings: so do the properties.
    TakeDcbProperties(FCore->Dcb());
    throw;
  }
}

void TAfCustomSerialPort::UpdateFlowLimits() {
  if (FFlowControl == fwNone) {
    FXOnLim = 0;
    FXOffLim = 0;
  } else {
    FXOnLim = static_cast<std::uint16_t>(FInBufSize / 4);
    FXOffLim = static_cast<std::uint16_t>(FInBufSize - FXOnLim);
  }
}

void TAfCustomSerialPort::Open() {
  if (FCore->Active()) return;
  EnableSyncSlot(FSyncSlotId, true);
  FCore->ApplyDcb(FDCB);
  FCore->SetInQueueSize(FInBufSize);
  FCore->SetOutQueueSize(FOutBufSize);
  FCore->SetEventThreadPriority(FEventThreadPriority);
  FCore->SetWriteThreadPriority(FWriteThreadPriority);
  FClosing = false;
  OpenDevice();
  TAfDataDispConnComponent::Open();
  Fire(OnPortOpen, this);
}

void TAfCustomSerialPort::Close() {
  FClosing = true;
  // The closed notification may destroy the port.
  struct TResetClosing {
    std::atomic<bool>& Flag;
    std::shared_ptr<std::atomic<bool>> Alive;
    ~TResetClosing() {
      if (*Alive) Flag = false;
    }
  } reset{FClosing, FAlive};
  TAfDataDispConnComponent::Close();
  EnableSyncSlot(FSyncSlotId, false);
  FCore->ClosePort();
  {
    std::lock_guard guard(FEventLock);
    FPending.clear();
  }
  Fire(OnPortClose, this);
}

void TAfCustomSerialPort::ReadData(void* Buffer, std::int32_t Count) {
  if (FClosing) return;
  if (FCore->ReadInput(Buffer, Count) != Count) RaisePortError("Read data error");
}

std::string TAfCustomSerialPort::ReadString() {
  if (FClosing) return {};
  std::string data(FCore->LineStatus().cbInQue, '\0');
  if (data.empty()) return data;
  std::int32_t read = FCore->ReadInput(data.data(), static_cast<std::int32_t>(data.size()));
  // Only what was really read: a short or failed read must not pass on filler bytes.
  data.resize(static_cast<std::size_t>(std::max(read, 0)));
  return data;
}

void TAfCustomSerialPort::WriteData(const void* Buffer, std::int32_t Count) {
  if (FClosing) return;
  if (!FCore->QueueOutput(Buffer, Count))
    RaisePortError(
        Format("Write data error [requested: %d, free: %d]", Count, FCore->OutputSpace()));
}

void TAfCustomSerialPort::WriteString(const std::string& Data) {
  if (!Data.empty()) WriteData(Data.data(), static_cast<std::int32_t>(Data.size()));
}

std::int32_t TAfCustomSerialPort::InQueueCount() {
  const COMSTAT stat = FCore->LineStatus();  // may be what finds the line hung up
  if (FCore->Gone()) return -1;
  return static_cast<std::int32_t>(stat.cbInQue);
}

std::int32_t TAfCustomSerialPort::OutputSpace() {
  return FCore->OutputSpace();
}

void TAfCustomSerialPort::PurgeInput() {
  if (!FClosing) FCore->PurgeInput();
}

void TAfCustomSerialPort::PurgeOutput() {
  if (!FClosing) FCore->PurgeOutput();
}

bool TAfCustomSerialPort::ModemLine(int Line) {
  static constexpr std::uint32_t bits[] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
  if (Line < 1 || Line > 4) return false;
  return (FCore->ModemLines() & bits[Line - 1]) != 0;
}

void TAfCustomSerialPort::RaisePortError(const std::string& Message) {
  throw EAfComPortError(Format("%s - %s ", Message.c_str(), Name.c_str()));
}

void TAfCustomSerialPort::EnsureClosed() {
  if (Active()) RaisePortError("Port is not closed");
}

void TAfCustomSerialPort::SetDcbProperties(const DCB& Dcb) {
  if (Dcb.DCBlength != sizeof(DCB)) RaisePortError("Error setting parameters from DCB");
  TakeDcbProperties(Dcb);
  UpdateDCB();
}

void TAfCustomSerialPort::TakeDcbProperties(const DCB& Dcb) {
  FDCB = Dcb;
  FBaudRate = brUser;
  FUserBaudRate = static_cast<std::int32_t>(Dcb.BaudRate);
  for (int rate = br110; rate < brUser; ++rate)
    if (AfBaudRates[rate] == Dcb.BaudRate) {
      FBaudRate = TAfBaudrate(rate);
      FUserBaudRate = 0;
      break;
    }
  FDatabits = Dcb.ByteSize >= 4 && Dcb.ByteSize <= 8 ? TAfDatabits(Dcb.ByteSize - 4) : db8;
  FParity = Dcb.Parity <= paSpace ? TAfParity(Dcb.Parity) : paNone;
  FStopbits = Dcb.StopBits <= sbTwo ? TAfStopbits(Dcb.StopBits) : sbOne;
  FFlowControl = fwNone;
  for (TAfFlowControl flow : {fwDtrDsr, fwRtsCts, fwXOnXOff})
    if ((Dcb.Flags & FlowBits[flow]) == FlowBits[flow]) {
      FFlowControl = flow;
      break;
    }
  FOptions = 0;
  for (int option = coParityCheck; option <= coBreakControl; ++option)
    if (Dcb.Flags & OptionBits[option]) FOptions |= AfOption(TAfComOption(option));
  FXOnChar = Dcb.XonChar;
  FXOffChar = Dcb.XoffChar;
  FXOnLim = Dcb.XonLim;
  FXOffLim = Dcb.XoffLim;
}

void TAfCustomSerialPort::SetBaudRate(TAfBaudrate Value) {
  if (Value == FBaudRate) return;
  FBaudRate = Value;
  if (Value != brUser) FUserBaudRate = 0;
  UpdateDCB();
}

void TAfCustomSerialPort::SetUserBaudRate(std::int32_t Value) {
  if (Value == FUserBaudRate && FBaudRate == brUser) return;
  FUserBaudRate = Value;
  FBaudRate = brUser;
  UpdateDCB();
}

void TAfCustomSerialPort::SetDatabits(TAfDatabits Value) {
  if (Value == FDatabits) return;
  FDatabits = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetParity(TAfParity Value) {
  if (Value == FParity) return;
  FParity = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetStopbits(TAfStopbits Value) {
  if (Value == FStopbits) return;
  FStopbits = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetOptions(TAfComOptions Value) {
  if (Value == FOptions) return;
  FOptions = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetXOnChar(char Value) {
  if (Value == FXOnChar) return;
  FXOnChar = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetXOffChar(char Value) {
  if (Value == FXOffChar) return;
  FXOffChar = Value;
  UpdateDCB();
}

void TAfCustomSerialPort::SetDTR(bool Value) {
  if (Value == FDTR) return;
  if (Active()) FCore->EscapeLine(Value ? SETDTR : CLRDTR);
  FDTR = Value;
}

void TAfCustomSerialPort::SetRTS(bool Value) {
  if (Value == FRTS) return;
  if (Active()) FCore->EscapeLine(Value ? SETRTS : CLRRTS);
  FRTS = Value;
}

void TAfCustomSerialPort::SetFlowControl(TAfFlowControl Value) {
  if (Value == FFlowControl) return;
  FFlowControl = Value;
  UpdateFlowLimits();
  UpdateDCB();
}

void TAfCustomSerialPort::SetInBufSize(std::int32_t Value) {
  if (Value == FInBufSize) return;
  EnsureClosed();
  FInBufSize = Value;
  UpdateFlowLimits();
}

void TAfCustomSerialPort::SetOutBufSize(std::int32_t Value) {
  if (Value == FOutBufSize) return;
  EnsureClosed();
  FOutBufSize = Value;
}

void TAfCustomSerialPort::SetXOnLim(std::uint16_t Value) {
  if (Value == FXOnLim) return;
  FXOnLim = Value;
  FXOffLim = static_cast<std::uint16_t>(FInBufSize - Value);
}

void TAfCustomSerialPort::SetXOffLim(std::uint16_t Value) {
  if (Value == FXOffLim) return;
  FXOffLim = Value;
  FXOnLim = static_cast<std::uint16_t>(FInBufSize - Value);
}

TAfCPTCoreEvent TAfCustomSerialPort::OnNonSyncEvent() const {
  std::lock_guard guard(FEventLock);
  return FOnNonSyncEvent;
}

void TAfCustomSerialPort::SetOnNonSyncEvent(TAfCPTCoreEvent Handler) {
  std::lock_guard guard(FEventLock);
  FOnNonSyncEvent = std::move(Handler);
}

void TAfCustomSerialPort::CoreEvent(TAfCoreEvent Kind, std::uint32_t Data,
                                    std::exception_ptr Error) {
  if (FClosing || FDestroying) return;
  // Both need the main thread: one is shown there, the other closes the port.
  if (Kind != ceException && Kind != ceDeviceGone) {
    if (auto handler = OnNonSyncEvent()) {
      handler(this, Kind, Data);
      return;
    }
  }
  {
    std::lock_guard guard(FEventLock);
    FPending.push_back({Kind, Data, Error});
  }
  if (!CallSyncSlot(FSyncSlotId, SyncTimeoutMs)) {
    // Not delivered (the port is closing): this thread's event is the last one queued.
    std::lock_guard guard(FEventLock);
    if (!FPending.empty()) FPending.pop_back();
    throw EAbort();
  }
}

void TAfCustomSerialPort::SyncDispatch() {
  if (FClosing || FDestroying) return;
  TPendingEvent event;
  {
    std::lock_guard guard(FEventLock);
    if (FPending.empty()) return;
    event = FPending.front();
    FPending.pop_front();
  }
  const auto [Kind, Data, Error] = event;
  // A handler may drop the port's owner, and with it the port: nothing of it is touched after.
  const std::shared_ptr<std::atomic<bool>> alive = FAlive;
  if (OnSyncEvent) OnSyncEvent(this, Kind, Data);
  if (!*alive) return;
  switch (Kind) {
    case ceOutFree:
      Fire(OnOutBufFree, this);
      break;
    case ceLineEvent:
      if ((Data & EV_RXCHAR) && OnDataRecived) OnDataRecived(this, InQueueCount());
      if (*alive) LineNotifications(Data, *alive);
      break;
    case ceNeedReadData:
      if (OnDataRecived) OnDataRecived(this, static_cast<std::int32_t>(Data));
      break;
    case ceException:
      if (Error) std::rethrow_exception(Error);
      break;
    case ceDeviceGone:
      Close();
      break;
  }
}

void TAfCustomSerialPort::LineNotifications(std::uint32_t Mask, const std::atomic<bool>& Alive) {
  std::uint32_t errors = FCore->TakeLineErrors();
  if ((Mask & EV_ERR) && OnLineError) OnLineError(this, errors);
  for (const auto& [event, handler] : {std::pair{EV_CTS, &OnCTSChanged},
                                       {EV_DSR, &OnDSRChanged},
                                       {EV_RING, &OnRINGDetected},
                                       {EV_RLSD, &OnRLSDChanged}})
    if (Alive && (Mask & event)) Fire(*handler, this);
}

void TAfCustomComPort::SetComNumber(std::uint16_t Value) {
  if (Value == FComNumber) return;
  if (Active()) {
    Close();
    FComNumber = Value;
    Open();
  } else {
    FComNumber = Value;
  }
}

std::string TAfCustomComPort::PortName() const {
  return Format("COM%d", FComNumber);
}

void TAfCustomComPort::OpenDevice() {
  Core().OpenPort(FComNumber);
}

bool TAfCustomComPort::ShowSetupDialog() {
  TAfComSetupDialog dialog;
  {
    std::lock_guard guard(GDialogLock);
    dialog = GDialog;
  }
  DCB config;
  bool haveConfig =
      Active() ? Handle()->GetCommState(config) : ProbeComPort(FComNumber).State != AfPortMissing;
  config = Dcb();
  if (!haveConfig || !dialog) return false;
  bool confirmed = dialog(PortName(), config);
  if (confirmed) SetDcbProperties(config);
  return confirmed;
}
