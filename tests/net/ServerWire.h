#pragma once
// The device server's side of the wire, for the rigs that play one: what a client sent, taken
// apart, and what a willing server answers to it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/uTelnetComPort.h"

// Telnet's command bytes, as a server puts them on the wire.
inline constexpr char kIac = '\xff', kSb = '\xfa', kSe = '\xf0', kWill = '\xfb', kWont = '\xfc',
                      kDo = '\xfd', kDont = '\xfe';
// The client's offer of the COM port control option, and a willing server's taking it.
inline const std::string kWillComPort{kIac, kWill, static_cast<char>(kComPortOption)};
inline const std::string kTakeComPort{kIac, kDo, static_cast<char>(kComPortOption)};

// One thing a client sent: a run of data bytes (unescaped), or one Telnet command as it was
// sent (an option command, a subnegotiation from IAC SB to IAC SE, any other IAC command).
struct TClientUnit {
  bool IsData = false;
  std::string Bytes;
};

// Takes what is complete of Wire, in order; Wire keeps an incomplete tail.
std::vector<TClientUnit> TakeClientWire(std::string& Wire);
// What a willing server confirms for Command when it is a COM port control subnegotiation,
// a speed confirmed as Speed when given; empty for any other command.
std::string ComPortConfirmation(const std::string& Command,
                                std::optional<std::uint32_t> Speed = {});
std::string TelnetEscaped(std::string_view Bytes);
