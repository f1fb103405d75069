#include "serial/uCommunicationUtils.h"

#include "serial/AfComPort.h"

std::int32_t BaudRateValue(const TAfCustomSerialPort& Port) {
  if (Port.BaudRate() == brUser) return Port.UserBaudRate();
  return static_cast<std::int32_t>(AfBaudRates[Port.BaudRate()]);
}

double CharacterTime(std::int32_t Speed) {
  if (Speed == 0) throw Exception("Floating point division by zero");
  return 1000.0 / Speed * 10;
}

TAfComPortProbe ProbeComPort(std::int32_t PortNumber) {
  TAfComPortProbe probe;
  probe.Port = static_cast<std::uint16_t>(PortNumber);
  TAfOpenError error;
  auto device = PortNumber > 0 ? AfOpenComDevice(PortNumber, error) : nullptr;
  if (device)
    probe.State = AfPortFree;
  else
    probe.State = PortNumber > 0 && error != TAfOpenError::NotFound ? AfPortInUse : AfPortMissing;
  return probe;
}
