#include "comm/uci_ISerialPortInterface.h"

#include <limits>
#include <typeindex>

#include "serial/AfComPort.h"
#include "serial/uCommunicationUtils.h"
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
  std::size_t i = 0;
  bool Negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) Negative = Text[i++] == '-';
  if (i == Text.size()) throw Exception(Format("'%s' is not a valid integer value", Text.c_str()));
  std::int64_t Value = 0;
  for (; i < Text.size(); ++i) {
    if (Text[i] < '0' || Text[i] > '9' || Value > std::numeric_limits<std::int32_t>::max())
      throw Exception(Format("'%s' is not a valid integer value", Text.c_str()));
    Value = Value * 10 + (Text[i] - '0');
  }
  if (Value > std::numeric_limits<std::int32_t>::max() + std::int64_t(Negative))
    throw Exception(Format("'%s' is not a valid integer value", Text.c_str()));
  return Negative ? -Value : Value;
}

std::int64_t StrToIntIn(const std::string& Text, std::int64_t Min, std::int64_t Max) {
  std::int64_t Value = StrToInt(Text);
  if (Value < Min || Value > Max) RaiseRangeError();
  return Value;
}

const char* BoolText(bool Value) {
  return Value ? "-1" : "0";
}

std::string LinesOf(std::string_view Text) {
  std::string Out(Text);
  for (char& C : Out)
    if (C == ';') C = '\n';
  return Out;
}

struct TSerialPortRegistration {
  TSerialPortRegistration() { RegisterChannelClass(typeid(TSerialPortInterface), "SERIAL_PORT"); }
  ~TSerialPortRegistration() { UnregisterChannelClass(typeid(TSerialPortInterface)); }
} SerialPortRegistration;

}  // namespace

bool FindConnectionValue(std::string_view Text, std::string_view Key, std::string& Value) {
  const std::string Lines = LinesOf(Text);
  std::size_t Start = 0;
  while (Start <= Lines.size()) {
    std::size_t End = Lines.find_first_of("\r\n", Start);
    if (End == std::string::npos) End = Lines.size();
    std::string_view Item(Lines.data() + Start, End - Start);
    std::size_t Eq = Item.find('=');
    if (Eq != std::string_view::npos && SameText(Item.substr(0, Eq), Key)) {
      Value = std::string(Item.substr(Eq + 1));
      return true;
    }
    Start = End + 1;
  }
  return false;
}

bool ConnectionPortNumber(const std::string& Text, std::uint16_t& Number) {
  std::string Value;
  if (FindConnectionValue(Text, "comport", Value)) {
    Number = static_cast<std::uint16_t>(StrToIntIn(Value, 0, 65535));
    return true;
  }
  if (UpperCase(Text).rfind("COM", 0) != 0) return false;
  std::int64_t Parsed;
  try {
    Parsed = StrToInt(LinesOf(Text).substr(3));
  } catch (const Exception&) {
    return false;
  }
  if (Parsed < 0 || Parsed > 65535) RaiseRangeError();
  Number = static_cast<std::uint16_t>(Parsed);
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
  std::uint8_t Stop = GetStopBits(), Par = GetParity();
  return Format("baudrate=%d;databits=%d;stopbits=%s;parity=%s;dtr=%s;rts=%s", GetBaudRate(),
                GetDataBits(), Stop <= 2 ? StopBitNames[Stop] : "",
                Par <= 4 ? ParityNames[Par] : "", BoolText(GetDTR()), BoolText(GetRTS()));
}

void TSerialPortCoreInterface::SetConnectionString(const std::string& Text) {
  std::string Value;
  if (FindConnectionValue(Text, "baudrate", Value))
    SetBaudRate(
        static_cast<std::int32_t>(StrToIntIn(Value, 0, std::numeric_limits<std::int32_t>::max())));
  if (FindConnectionValue(Text, "databits", Value))
    SetDataBits(static_cast<std::uint8_t>(StrToIntIn(Value, 0, 255)));
  if (FindConnectionValue(Text, "stopbits", Value)) {
    std::string V = UpperCase(Value);
    std::uint8_t Code = GetStopBits();
    if (V == "1" || V == "ONE")
      Code = 0;
    else if (V == "1.5" || V == "1,5" || V == "ONEANDHALF")
      Code = 1;
    else if (V == "2" || V == "TWO")
      Code = 2;
    SetStopBits(Code);
  }
  if (FindConnectionValue(Text, "parity", Value)) {
    std::string V = UpperCase(Value);
    std::uint8_t Code = GetParity();
    for (std::uint8_t i = 0; i < 5; ++i)
      if (V == UpperCase(ParityNames[i])) Code = i;
    SetParity(Code);
  }
  if (FindConnectionValue(Text, "dtr", Value)) SetDTR(TVariant(Value).ToBool());
  if (FindConnectionValue(Text, "rts", Value)) SetRTS(TVariant(Value).ToBool());
  bool Activate =
      FindConnectionValue(Text, "active", Value) && (UpperCase(Value) == "TRUE" || Value == "1");
  TCommunicationInterface::SetConnectionString(Text);  // settings-changed
  if (Activate) Open();
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
  Port = std::make_unique<TAfComPort>();
  Port->SetUserBaudRate(9600);
  Port->OnPortOpen = [this](TAfCustomSerialPort* Sender) { PortOpened(Sender); };
  Port->OnPortClose = [this](TAfCustomSerialPort* Sender) { PortClosed(Sender); };
  Port->OnDataRecived = [this](TAfCustomSerialPort* Sender, std::int32_t Count) {
    PortDataReceived(Sender, Count);
  };
  Port->OnCTSChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_CTS, 1); };
  Port->OnDSRChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_DSR, 2); };
  Port->OnRINGDetected = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_RING, 3); };
  // Carrier detect is reported with code 0, as the channel contract has no code of its own.
  Port->OnRLSDChanged = [this](TAfCustomSerialPort*) { PortLine(MODEM_LINE_RTS, 4); };
  Port->SetOutBufSize(10000000);
  Port->SetInBufSize(10000000);
}

TSerialPortInterface::~TSerialPortInterface() {
  if (Port->Active()) Port->Close();
  DetachPort();
  Port.reset();
}

void TSerialPortInterface::DetachPort() {
  Port->OnCTSChanged = nullptr;
  Port->OnDataRecived = nullptr;
  Port->OnDSRChanged = nullptr;
  Port->OnRLSDChanged = nullptr;
  Port->OnRINGDetected = nullptr;
  Port->OnLineError = nullptr;
  Port->OnOutBufFree = nullptr;
  Port->SetOnNonSyncEvent(nullptr);
  Port->OnPortClose = nullptr;
  Port->OnPortOpen = nullptr;
  Port->OnSyncEvent = nullptr;
}

void TSerialPortInterface::PortOpened(TAfCustomSerialPort*) {
  SetDeviceGone(false);
  DoOpened();
}
void TSerialPortInterface::PortClosed(TAfCustomSerialPort*) {
  SetDeviceGone(Port->DeviceGone());
  DoClosed();
}
void TSerialPortInterface::PortDataReceived(TAfCustomSerialPort*, std::int32_t) {
  DoDataReceived();
}
void TSerialPortInterface::PortLine(std::int32_t LineCode, int ModemLine) {
  DoModemLineChange(LineCode, Port->ModemLine(ModemLine));
}

bool TSerialPortInterface::GetActive() {
  return Port && Port->Active();
}

bool TSerialPortInterface::Open() {
  TChannelLock Guard(*this);
  SetBaudRate(GetBaudRate());
  try {
    Port->Open();
  } catch (const std::exception&) {
    // Missing or busy ports answer false; the reason is kept for whoever asks.
  }
  switch (Port->OpenError()) {
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
  return Port->Active();
}

bool TSerialPortInterface::Close(bool) {
  TChannelLock Guard(*this);
  if (!Port->Active()) return false;
  Port->Close();
  return !Port->Active();
}

std::int32_t TSerialPortInterface::Write(const std::string& Data) {
  TChannelLock Guard(*this);
  if (Port->DeviceGone()) return 0;
  Trace(TRACE_WRITTEN, Data);
  Port->WriteString(Data);
  return static_cast<std::int32_t>(Data.size());
}

void TSerialPortInterface::Read(std::string& Data) {
  TChannelLock Guard(*this);
  Data = Port->ReadString();
  Trace(TRACE_READ, Data);
}

std::int32_t TSerialPortInterface::InputCount() {
  return Port->InQueueCount();
}

void TSerialPortInterface::PurgeInput() {
  TChannelLock Guard(*this);
  Port->PurgeInput();
}

void TSerialPortInterface::PurgeOutput() {
  TChannelLock Guard(*this);
  Port->PurgeOutput();
}

std::string TSerialPortInterface::GetPortName() {
  return PortLabel;
}

void TSerialPortInterface::SetPresent(bool Value) {
  TCommunicationInterface::SetPresent(Value);
  if (!Value) Close(true);
}

std::string TSerialPortInterface::GetConnectionString() {
  return TSerialPortCoreInterface::GetConnectionString() +
         Format(";comport=%d", static_cast<int>(Port->ComNumber()));
}

void TSerialPortInterface::SetConnectionString(const std::string& Text) {
  if (std::uint16_t Number; ConnectionPortNumber(Text, Number)) Port->SetComNumber(Number);
  PortLabel = ComPortLabel(Port->ComNumber());
  TSerialPortCoreInterface::SetConnectionString(Text);
  DoSettingsChanged();
}

std::int32_t TSerialPortInterface::GetBaudRate() {
  return BaudRateValue(*Port);
}

void TSerialPortInterface::SetBaudRate(std::int32_t Value) {
  // The exchanges wait in step with the line: slow speeds need longer quiet times.
  if (Value > 0) TSerialPortCoreInterface::SetBaudRate(Value);
  Port->SetBaudRate(brUser);
  Port->SetUserBaudRate(Value);
  DoSettingsChanged();
}

bool TSerialPortInterface::GetRTS() {
  return Port->RTS();
}

void TSerialPortInterface::SetRTS(bool Value) {
  TChannelLock Guard(*this);
  Port->SetRTS(Value);
}

bool TSerialPortInterface::GetDTR() {
  return Port->DTR();
}

void TSerialPortInterface::SetDTR(bool Value) {
  TChannelLock Guard(*this);
  Port->SetDTR(Value);
}

bool TSerialPortInterface::GetCTS() {
  return Port->ModemLine(1);
}
bool TSerialPortInterface::GetDSR() {
  return Port->ModemLine(2);
}

std::uint8_t TSerialPortInterface::GetStopBits() {
  return Port->Stopbits();
}

void TSerialPortInterface::SetStopBits(std::uint8_t Value) {
  if (Value > sbTwo) RaiseRangeError();
  Port->SetStopbits(TAfStopbits(Value));
  DoSettingsChanged();
}

std::uint8_t TSerialPortInterface::GetParity() {
  return Port->Parity();
}

void TSerialPortInterface::SetParity(std::uint8_t Value) {
  if (Value > paSpace) RaiseRangeError();
  Port->SetParity(TAfParity(Value));
  DoSettingsChanged();
}

std::uint8_t TSerialPortInterface::GetDataBits() {
  return static_cast<std::uint8_t>(Port->Databits() + 4);
}

void TSerialPortInterface::SetDataBits(std::uint8_t Value) {
  // Counts the component has no setting for are refused rather than passed on as nonsense.
  if (Value < 4 || Value > 8) RaiseRangeError();
  Port->SetDatabits(TAfDatabits(Value - 4));
  DoSettingsChanged();
}

std::int32_t TSerialPortInterface::GetOutBufSize() {
  return Port->OutBufSize();
}
void TSerialPortInterface::SetOutBufSize(std::int32_t Value) {
  Port->SetOutBufSize(Value);
}
std::int32_t TSerialPortInterface::GetInBufSize() {
  return Port->InBufSize();
}
void TSerialPortInterface::SetInBufSize(std::int32_t Value) {
  Port->SetInBufSize(Value);
}
