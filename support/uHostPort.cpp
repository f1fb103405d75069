#include "support/uHostPort.h"

#include <algorithm>

#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

bool IsPortNumber(std::string_view Text) {
  if (Text.empty() || Text.size() > 5) return false;
  int value = 0;
  for (char digit : Text) {
    if (digit < '0' || digit > '9') return false;
    value = value * 10 + (digit - '0');
  }
  return value >= 1 && value <= 65535;
}

// What a name or an address may hold, zone index included; anything else (a bracket left in
// it, a path, a blank) would only fail later, when the name is looked up.
bool IsHostText(std::string_view Text) {
  return std::none_of(Text.begin(), Text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F || c == '[' || c == ']' || c == '/';
  });
}

}  // namespace

bool HasUrlScheme(std::string_view Text, std::string_view Scheme) {
  return Text.size() >= Scheme.size() && SameText(Text.substr(0, Scheme.size()), Scheme);
}

THostPort ParseHostPort(std::string_view Text, std::string_view DefaultPort) {
  const char* const kPortExpected =
      DefaultPort.empty() ? "HOST:PORT expected" : "HOST[:PORT] expected";
  THostPort address;
  if (!Text.empty() && Text.back() == '/') Text.remove_suffix(1);
  std::size_t portStart = std::string_view::npos;
  if (!Text.empty() && Text.front() == '[') {
    const std::size_t close = Text.find(']');
    if (close == std::string_view::npos) throw Exception("unclosed '['");
    address.Host = std::string(Text.substr(1, close - 1));
    if (close + 1 < Text.size()) {
      if (Text[close + 1] != ':') throw Exception(kPortExpected);
      portStart = close + 2;
    }
  } else {
    const std::size_t colon = Text.rfind(':');
    address.Host = std::string(Text.substr(0, colon));
    if (colon != std::string_view::npos) portStart = colon + 1;
    if (address.Host.find(':') != std::string::npos) throw Exception("an IPv6 address goes in [ ]");
  }
  if (portStart != std::string_view::npos)
    address.Port = std::string(Text.substr(portStart));
  else if (!DefaultPort.empty())
    address.Port = std::string(DefaultPort);
  else
    throw Exception(kPortExpected);
  if (address.Host.empty()) throw Exception("no host");
  if (!IsHostText(address.Host)) throw Exception("no host name or address");
  if (!IsPortNumber(address.Port)) throw Exception("port 1 to 65535 expected");
  return address;
}

std::string HostPortText(const THostPort& Address) {
  const bool bracketed = Address.Host.find(':') != std::string::npos;
  return (bracketed ? "[" + Address.Host + "]" : Address.Host) + ":" + Address.Port;
}
