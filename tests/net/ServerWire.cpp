#include "tests/net/ServerWire.h"

#include "support/uConversionUtils.h"

std::vector<TClientUnit> TakeClientWire(std::string& Wire) {
  std::vector<TClientUnit> units;
  const auto data = [&units](char Byte) {
    if (units.empty() || !units.back().IsData) units.push_back({true, {}});
    units.back().Bytes += Byte;
  };
  std::size_t at = 0;
  while (at < Wire.size()) {
    if (Wire[at] != kIac) {
      data(Wire[at++]);
      continue;
    }
    if (at + 1 == Wire.size()) break;
    const char command = Wire[at + 1];
    std::size_t end = at + 2;
    if (command == kIac) {
      data(kIac);
      at = end;
      continue;
    }
    if (command == kSb) {
      const std::size_t close = Wire.find(std::string{kIac, kSe}, at);
      if (close == std::string::npos) break;
      end = close + 2;
    } else if (command >= kWill && command <= kDont) {
      if (at + 2 >= Wire.size()) break;
      end = at + 3;
    }
    units.push_back({false, Wire.substr(at, end - at)});
    at = end;
  }
  Wire.erase(0, at);
  return units;
}

std::string ComPortConfirmation(const std::string& Command, std::optional<std::uint32_t> Speed) {
  // IAC SB option command value... IAC SE
  if (Command.size() < 6 || Command[1] != kSb || Command[2] != static_cast<char>(kComPortOption))
    return {};
  std::string payload = Command.substr(3, Command.size() - 5);
  if (payload[0] == cpcSetBaudRate && Speed) payload = Byte(cpcSetBaudRate) + BigEndian32(*Speed);
  payload[0] = static_cast<char>(payload[0] + kServerReplyOffset);
  return std::string{kIac, kSb, static_cast<char>(kComPortOption)} + payload +
         std::string{kIac, kSe};
}

std::string TelnetEscaped(std::string_view Bytes) {
  std::string escaped;
  for (const char byte : Bytes) {
    escaped += byte;
    if (byte == kIac) escaped += kIac;
  }
  return escaped;
}
