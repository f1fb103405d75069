// The serial settings and the naming of a serial device server channel: over RFC 2217 each
// setting goes to the server as a command of the COM port control option.
#include "net/uci_SerialServer.h"

#include "serial/AfPortMap.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

// Stop-size values of the COM port control option, by the channel's stop-bits code.
constexpr std::uint8_t kStopSizeOfCode[] = {1, 3, 2};

[[noreturn]] void RaiseRangeError() {
  throw Exception("Range check error");
}

}  // namespace

void TSerialServerInterface::ApplyLineSettings() {
  SendComPortCommand(cpcSetDataSize, Byte(FDataBits), false);
  SendComPortCommand(cpcSetParity, Byte(FParity + 1), false);
  SendComPortCommand(cpcSetStopSize, Byte(kStopSizeOfCode[FStopBits]), false);
  SendComPortCommand(cpcSetControl, Byte(kControlNoFlowControl), false);
  SendComPortCommand(cpcSetControl, Byte(FDTR ? kControlDtrOn : kControlDtrOff), false);
  SendComPortCommand(cpcSetControl, Byte(FRTS ? kControlRtsOn : kControlRtsOff), false);
  // The server answers in order: once the speed is confirmed, the settings before it are done.
  KeepLineSpeed(LineSpeedFor(FBaudRate));
  std::lock_guard lock(FLinkLock);
  if (FTelnet && FTelnet->ComPortOption() == TTelnetComPort::TOptionState::Accepted &&
      FTelnet->Confirmations(cpcSetControl) == 0)
    Log("the server does not confirm the control lines; data goes on");
}

// --- naming and connection strings ---------------------------------------------------------

std::string TSerialServerInterface::GetPortName() {
  return FPortLabel;
}

std::string TSerialServerInterface::GetDescription() {
  const std::string url = AfComPortPath(FComNumber);
  return url.empty() ? FPortLabel : url;
}

std::string TSerialServerInterface::GetConnectionString() {
  return TSerialPortCoreInterface::GetConnectionString() +
         Format(";comport=%d", static_cast<int>(FComNumber.load()));
}

void TSerialServerInterface::SetConnectionString(const std::string& Text) {
  if (std::uint16_t number; ConnectionPortNumber(Text, number)) FComNumber = number;
  FPortLabel = ComPortLabel(FComNumber);
  TSerialPortCoreInterface::SetConnectionString(Text);
  DoSettingsChanged();
}

// --- serial settings -----------------------------------------------------------------------

void TSerialServerInterface::SetBaudRate(std::int32_t Value) {
  TSerialPortCoreInterface::SetBaudRate(Value);  // a speed of 0 raises before anything is sent
  KeepLineSpeed(LineSpeedFor(Value));
  DoSettingsChanged();
}

void TSerialServerInterface::KeepLineSpeed(std::int32_t Value) {
  TSerialPortCoreInterface::SetBaudRate(Value);
  FBaudRate = Value;
}

void TSerialServerInterface::SetDataBits(std::uint8_t Value) {
  if (Value < 4 || Value > 8) RaiseRangeError();
  ChangeLineSetting(FDataBits, Value, cpcSetDataSize, Value);
}

void TSerialServerInterface::SetStopBits(std::uint8_t Value) {
  if (Value > 2) RaiseRangeError();
  ChangeLineSetting(FStopBits, Value, cpcSetStopSize, kStopSizeOfCode[Value]);
}

void TSerialServerInterface::SetParity(std::uint8_t Value) {
  if (Value > 4) RaiseRangeError();
  ChangeLineSetting(FParity, Value, cpcSetParity, static_cast<std::uint8_t>(Value + 1));
}

void TSerialServerInterface::ChangeLineSetting(std::atomic<std::uint8_t>& Setting,
                                               std::uint8_t Value, TComPortCommand Command,
                                               std::uint8_t CommandValue) {
  Setting = Value;
  SendComPortCommand(Command, Byte(CommandValue), false);
  DoSettingsChanged();
}

void TSerialServerInterface::SetDTR(bool Value) {
  ChangeControlLine(FDTR, Value, Value ? kControlDtrOn : kControlDtrOff);
}

void TSerialServerInterface::SetRTS(bool Value) {
  ChangeControlLine(FRTS, Value, Value ? kControlRtsOn : kControlRtsOff);
}

void TSerialServerInterface::ChangeControlLine(std::atomic<bool>& Line, bool Value,
                                               std::uint8_t ControlCode) {
  TChannelLock guard(*this);
  Line = Value;
  SendComPortCommand(cpcSetControl, Byte(ControlCode), false);
}

bool TSerialServerInterface::GetCTS() {
  std::lock_guard lock(FLinkLock);
  return FTelnet && (FTelnet->ModemState() & kModemCts) != 0;
}

bool TSerialServerInterface::GetDSR() {
  std::lock_guard lock(FLinkLock);
  return FTelnet && (FTelnet->ModemState() & kModemDsr) != 0;
}

std::int32_t TSerialServerInterface::GetOutBufSize() {
  return FOutBufSize;
}
void TSerialServerInterface::SetOutBufSize(std::int32_t Value) {
  FOutBufSize = Value;
}
std::int32_t TSerialServerInterface::GetInBufSize() {
  return FInBufSize;
}
void TSerialServerInterface::SetInBufSize(std::int32_t Value) {
  FInBufSize = Value;
}
