#pragma once
// Port utilities: the numeric speed of a port, the time of one character, and whether a COM
// port exists and is free.
#include <cstdint>

class TAfCustomSerialPort;

// UserBaudRate for brUser, else the rate of BaudRate.
std::int32_t BaudRateValue(const TAfCustomSerialPort& Port);
// Milliseconds for one character of 10 bits at Speed bit/s; Speed 0 raises.
double CharacterTime(std::int32_t Speed);

// Probe states.
constexpr std::uint8_t AfPortInUse = 0, AfPortFree = 1, AfPortMissing = 2;

struct TAfComPortProbe {
  std::uint16_t Port = 0;
  std::uint8_t State = AfPortMissing;
};
// Opens and closes port PortNumber at once: free (1), missing (2), or present but not
// openable, for example in use (0).
TAfComPortProbe ProbeComPort(std::int32_t PortNumber);
