#include "comm/uci_ISerialPortInterface.h"

#include <limits>
#include <optional>
#include <typeindex>

#include "serial/AfComPort.h"
#include "serial/AfPortMap.h"
#include "serial/uCommunicationUtils.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"
#include "support/uVariant.h"

namespace {

const char* const StopBitNames[] = {"One", "OneAndHalf", "Two"};
const char* const ParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};

[[noreturn]] void RaiseRangeError() {
  throw Exception("Range check error");
}

// A decimal integer, optionally signed; anything else is the conversion error.
std::int64_t StrToInt(const std::string& Text) {
  const std::optional<std::int64_t> value = ParseDecimalInteger(Text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max())
    throw Exception(Format("'%s' is not a valid integer value", Text.c_str()));
  return *value;
}

std::int64_t StrToIntIn(const std::string& Text, std::int64_t Min, std::int64_t Max) {
  std::int64_t value = StrToInt(Text);
  if (value < Min || value > Max) RaiseRangeError();
  return value;
}

const char* BoolText(bool Value) {
  return Value ? "-1" : "0";
}

std::string LinesOf(std::string_view Text) {
  std::string lines(Text);
  for (char& character : lines)
    if (character == ';') character = '\n';
  return lines;
}

struct TSerialPortRegistration {
  TSerialPortRegistration() { RegisterChannelClass(typeid(TSerialPortInterface), "SERIAL_PORT"); }
  ~TSerialPortRegistration() { UnregisterChannelClass(typeid(TSerialPortInterface)); }
} SerialPortRegistration;

}  // namespace

bool FindConnectionValue(std::string_view Text, std::string_view Key, std::string& Value) {
  const std::string lines = LinesOf(Text);
  std::size_t start = 0;
  while (start <= lines.size()) {
    std::size_t end = lines.find_first_of("\r\n", start);
    if (end == std::string::npos) end = lines.size();
    std::string_view item(lines.data() + start, end - start);
    std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && SameText(item.substr(0, equals), Key)) {
      Value = std::string(item.substr(equals + 1));
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool ConnectionPortNumber(const std::string& Text, std::uint16_t& Number) {
  std::string value;
  if (FindConnectionValue(Text, "comport", value)) {
    Number = static_cast<std::uint16_t>(StrToIntIn(value, 0, 65535));
    return true;
  }
  if (UpperCase(Text).rfind("COM", 0) != 0) return false;
  std::int64_t parsed;
  try {
    parsed = StrToInt(LinesOf(Text).substr(3));
  } catch (const Exception&) {
    return false;
  }
  if (parsed < 0 || parsed > 65535) RaiseRangeError();
  Number = static_cast<std::uint16_t>(parsed);
  return true;
}

std::string ComPortLabel(std::uint16_t Number) {
  return Number != 0 ? Format("COM%d", static_cast<int>(Number)) : std::string("COM unknown");
}

// --- TSerialPortCoreInterface --------------------------------------------------------------

TSerialPortCoreInterface::TSerialPortCoreInterface(std::string ConnectionString)
    : TCommunicationInterface(std::move(ConnectionString)) {}

TSerialPortCoreInterface::TSerialPortCoreInterface(const TXMLNode& Element,
                                                   TIntfPtr<IInterface> Parent)
    : TCommunicationInterface(Element, std::move(Parent)) {}

void* TSerialPortCoreInterface::FindInterface(const TGUID& iid) {
  if (iid == ISerialPortInterface::IID) return static_cast<ISerialPortInterface*>(this);
  return TCommunicationInterface::FindInterface(iid);
}

void TSerialPortCoreInterface::SetBaudRate(std::int32_t Value) {
  SetCharTime(CharacterTime(Value));
}

std::string TSerialPortCoreInterface::GetConnectionString() {
  std::uint8_t stopBits = GetStopBits(), parity = GetParity();
  return Format("baudrate=%d;databits=%d;stopbits=%s;parity=%s;dtr=%s;rts=%s", GetBaudRate(),
                GetDataBits(), stopBits <= 2 ? StopBitNames[stopBits] : "",
                parity <= 4 ? ParityNames[parity] : "", BoolText(GetDTR()), BoolText(GetRTS()));
}

void TSerialPortCoreInterface::SetConnectionString(const std::string& Text) {
  std::string value;
  if (FindConnectionValue(Text, "baudrate", value))
    SetBaudRate(
        static_cast<std::int32_t>(StrToIntIn(value, 0, std::numeric_limits<std::int32_t>::max())));
  if (FindConnectionValue(Text, "databits", value))
    SetDataBits(static_cast<std::uint8_t>(StrToIntIn(value, 0, 255)));
  if (FindConnectionValue(Text, "stopbits", value)) {
    std::string upper = UpperCase(value);
    std::uint8_t code = GetStopBits();
    if (upper == "1" || upper == "ONE")
      code = 0;
    else if (upper == "1.5" || upper == "1,5" || upper == "ONEANDHALF")
      code = 1;
    else if (upper == "2" || upper == "TWO")
      code = 2;
    SetStopBits(code);
  }
  if (FindConnectionValue(Text, "parity", value)) {
    std::string upper = UpperCase(value);
    std::uint8_t code = GetParity();
    for (std::uint8_t parityCode = 0; parityCode < 5; ++parityCode)
      if (upper == UpperCase(ParityNames[parityCode])) code = parityCode;
    SetParity(code);
  }
  if (FindConnectionValue(Text, "dtr", value)) SetDTR(TVariant(value).ToBool());
  if (FindConnectionValue(Text, "rts", value)) SetRTS(TVariant(value).ToBool());
  bool activate =
      FindConnectionValue(Text, "active", value) && (UpperCase(value) == "TRUE" || value == "1");
  TCommunicationInterface::SetConnectionString(Text);  // settings-changed
  if (activate) Open();
}

// --- TSerialPortInterface ------------------------------------------------------------------

TSerialPortInterface::TSerialPortInterface(std::string ConnectionString)
    : TSerialPortCoreInterface(std::move(ConnectionString)) {
  SetUpPort();
}

TSerialPortInterface::TSerialPortInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent)
    : TSerialPortCoreInterface(Element, std::move(Parent)) {
  SetUpPort();
}

void TSerialPortInterface::SetUpPort() {
  FPort = std::make_unique<TAfComPort>();
  FPort->SetUserBaudRate(9600);
  FPort->OnPortOpen = [this](TAfCustomSerialPort* Sender) { PortOpened(Sender); };
  FPort->OnPortClose = [this](TAfCustomSerialPort* Sender) { PortClosed(Sender); };
  FPort->OnDataRecived = [this](TAfCustomSerialPort* Sender, std::int32_t Count) {
    PortDataReceived(Sender, Count);
  };
  FPort->OnCTSChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_CTS, 1); };
  FPort->OnDSRChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_DSR, 2); };
  FPort->OnRINGDetected = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_RING, 3); };
  // Carrier detect is reported with code 0, as the channel contract has no code of its own.
  FPort->OnRLSDChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_RTS, 4); };
  // What the fastest line carries in a second; a write waits there only until the line takes it.
  FPort->SetOutBufSize(static_cast<std::int32_t>(AfBaudRates[brUser - 1] / 10));
  FPort->SetInBufSize(10000000);
}

TSerialPortInterface::~TSerialPortInterface() {
  if (FPort->Active()) FPort->Close();
  DetachPort();
  FPort.reset();
}

void TSerialPortInterface::DetachPort() {
  FPort->OnCTSChanged = nullptr;
  FPort->OnDataRecived = nullptr;
  FPort->OnDSRChanged = nullptr;
  FPort->OnRLSDChanged = nullptr;
  FPort->OnRINGDetected = nullptr;
  FPort->OnLineError = nullptr;
  FPort->OnOutBufFree = nullptr;
  FPort->SetOnNonSyncEvent(nullptr);
  FPort->OnPortClose = nullptr;
  FPort->OnPortOpen = nullptr;
  FPort->OnSyncEvent = nullptr;
}

void TSerialPortInterface::PortOpened(TAfCustomSerialPort*) {
  SetDeviceGone(false);
  DoOpened();
}
void TSerialPortInterface::PortClosed(TAfCustomSerialPort*) {
  SetDeviceGone(FPort->DeviceGone());
  DoClosed();
}
void TSerialPortInterface::PortDataReceived(TAfCustomSerialPort*, std::int32_t) {
  DoDataReceived();
}
void TSerialPortInterface::PortLine(std::int32_t LineCode, int ModemLine) {
  DoModemLineChange(LineCode, FPort->ModemLine(ModemLine));
}

bool TSerialPortInterface::GetActive() {
  return FPort && FPort->Active();
}

bool TSerialPortInterface::Open() {
  TChannelLock guard(*this);
  SetBaudRate(GetBaudRate());
  try {
    FPort->Open();
  } catch (const std::exception&) {
    // Missing or busy ports answer false; the reason is kept for whoever asks.
  }
  switch (FPort->OpenError()) {
    case TAfOpenError::None:
      SetOpenFailure(TOpenFailure::None);
      break;
    case TAfOpenError::InUse:
      SetOpenFailure(TOpenFailure::InUse);
      break;
    case TAfOpenError::Denied:
      SetOpenFailure(TOpenFailure::Denied);
      break;
    default:
      SetOpenFailure(TOpenFailure::Missing);
  }
  return FPort->Active();
}

bool TSerialPortInterface::Close(bool) {
  TChannelLock guard(*this);
  if (!FPort->Active()) return false;
  FPort->Close();
  return !FPort->Active();
}

std::int32_t TSerialPortInterface::Write(const std::string& Data) {
  TChannelLock guard(*this);
  if (FPort->DeviceGone()) return 0;
  Trace(TRACE_WRITTEN, Data);
  FPort->WriteString(Data);
  return static_cast<std::int32_t>(Data.size());
}

void TSerialPortInterface::Read(std::string& Data) {
  TChannelLock guard(*this);
  Data = FPort->ReadString();
  Trace(TRACE_READ, Data);
}

std::int32_t TSerialPortInterface::InputCount() {
  return FPort->InQueueCount();
}

void TSerialPortInterface::PurgeInput() {
  TChannelLock guard(*this);
  FPort->PurgeInput();
}

void TSerialPortInterface::PurgeOutput() {
  TChannelLock guard(*this);
  FPort->PurgeOutput();
}

std::string TSerialPortInterface::GetPortName() {
  std::lock_guard guard(FLabelLock);
  return FPortLabel;
}

std::string TSerialPortInterface::GetDeviceNode() {
  std::uint16_t number = 0;
  return ConnectionPortNumber(GetPortName(), number) ? AfComPortPath(number) : std::string();
}

void TSerialPortInterface::SetPresent(bool Value) {
  TCommunicationInterface::SetPresent(Value);
  if (!Value) Close(true);
}

std::string TSerialPortInterface::GetConnectionString() {
  return TSerialPortCoreInterface::GetConnectionString() +
         Format(";comport=%d", static_cast<int>(FPort->ComNumber()));
}

void TSerialPortInterface::SetConnectionString(const std::string& Text) {
  if (std::uint16_t Number; ConnectionPortNumber(Text, Number)) FPort->SetComNumber(Number);
  {
    std::lock_guard guard(FLabelLock);
    FPortLabel = ComPortLabel(FPort->ComNumber());
  }
  TSerialPortCoreInterface::SetConnectionString(Text);
  DoSettingsChanged();
}

std::int32_t TSerialPortInterface::GetBaudRate() {
  return BaudRateValue(*FPort);
}

void TSerialPortInterface::SetBaudRate(std::int32_t Value) {
  // The exchanges wait in step with the line: slow speeds need longer quiet times.
  if (Value > 0) TSerialPortCoreInterface::SetBaudRate(Value);
  FPort->SetBaudRate(brUser);
  FPort->SetUserBaudRate(Value);
  DoSettingsChanged();
}

bool TSerialPortInterface::GetRTS() {
  return FPort->RTS();
}

void TSerialPortInterface::SetRTS(bool Value) {
  TChannelLock guard(*this);
  FPort->SetRTS(Value);
}

bool TSerialPortInterface::GetDTR() {
  return FPort->DTR();
}

void TSerialPortInterface::SetDTR(bool Value) {
  TChannelLock guard(*this);
  FPort->SetDTR(Value);
}

bool TSerialPortInterface::GetCTS() {
  return FPort->ModemLine(1);
}
bool TSerialPortInterface::GetDSR() {
  return FPort->ModemLine(2);
}

std::uint8_t TSerialPortInterface::GetStopBits() {
  return FPort->Stopbits();
}

void TSerialPortInterface::SetStopBits(std::uint8_t Value) {
  if (Value > sbTwo) RaiseRangeError();
  FPort->SetStopbits(TAfStopbits(Value));
  DoSettingsChanged();
}

std::uint8_t TSerialPortInterface::GetParity() {
  return FPort->Parity();
}

void TSerialPortInterface::SetParity(std::uint8_t Value) {
  if (Value > paSpace) RaiseRangeError();
  FPort->SetParity(TAfParity(Value));
  DoSettingsChanged();
}

std::uint8_t TSerialPortInterface::GetDataBits() {
  return static_cast<std::uint8_t>(FPort->Databits() + 4);
}

void TSerialPortInterface::SetDataBits(std::uint8_t Value) {
  // Counts the component has no setting for are refused rather than passed on as nonsense.
  if (Value < 4 || Value > 8) RaiseRangeError();
  FPort->SetDatabits(TAfDatabits(Value - 4));
  DoSettingsChanged();
}

std::int32_t TSerialPortInterface::GetOutBufSize() {
  return FPort->OutBufSize();
}
void TSerialPortInterface::SetOutBufSize(std::int32_t Value) {
  FPort->SetOutBufSize(Value);
}
std::int32_t TSerialPortInterface::GetInBufSize() {
  return FPort->InBufSize();
}
void TSerialPortInterface::SetInBufSize(std::int32_t Value) {
  FPort->SetInBufSize(Value);
}
