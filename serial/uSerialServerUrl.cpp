#include "serial/uSerialServerUrl.h"

#include <algorithm>

#include "support/uErrors.h"
#include "support/uStringUtils.h"

namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kRawTcpScheme = "tcp://";

bool HasScheme(std::string_view Text, std::string_view Scheme) {
  return Text.size() >= Scheme.size() && SameText(Text.substr(0, Scheme.size()), Scheme);
}

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

bool IsSerialServerUrl(std::string_view Text) {
  return HasScheme(Text, kRfc2217Scheme) || HasScheme(Text, kRawTcpScheme);
}

TSerialServerUrl ParseSerialServerUrl(std::string_view Text) {
  const auto malformed = [&Text](const char* Why) {
    return Exception("'" + std::string(Text) + "' is not a serial device server URL (" + Why + ")");
  };
  TSerialServerUrl url;
  std::string_view rest;
  if (HasScheme(Text, kRfc2217Scheme)) {
    rest = Text.substr(kRfc2217Scheme.size());
  } else if (HasScheme(Text, kRawTcpScheme)) {
    url.Protocol = TServerProtocol::RawTcp;
    rest = Text.substr(kRawTcpScheme.size());
  } else {
    throw malformed("rfc2217:// or tcp:// expected");
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::size_t colon;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) throw malformed("unclosed '['");
    url.Host = std::string(rest.substr(1, close - 1));
    colon = close + 1;
    if (colon >= rest.size() || rest[colon] != ':') throw malformed("HOST:PORT expected");
  } else {
    colon = rest.rfind(':');
    if (colon == std::string_view::npos) throw malformed("HOST:PORT expected");
    url.Host = std::string(rest.substr(0, colon));
    if (url.Host.find(':') != std::string::npos) throw malformed("an IPv6 address goes in [ ]");
  }
  url.Port = std::string(rest.substr(colon + 1));
  if (url.Host.empty()) throw malformed("no host");
  if (!IsHostText(url.Host)) throw malformed("no host name or address");
  if (!IsPortNumber(url.Port)) throw malformed("port 1 to 65535 expected");
  return url;
}

std::string ServerAddressText(const TSerialServerUrl& Url) {
  const bool bracketed = Url.Host.find(':') != std::string::npos;
  return (bracketed ? "[" + Url.Host + "]" : Url.Host) + ":" + Url.Port;
}
