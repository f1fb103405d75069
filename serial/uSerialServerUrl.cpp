#include "serial/uSerialServerUrl.h"

#include <utility>

#include "support/uErrors.h"
#include "support/uHostPort.h"

namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kRawTcpScheme = "tcp://";

}  // namespace

bool IsSerialServerUrl(std::string_view Text) {
  return HasUrlScheme(Text, kRfc2217Scheme) || HasUrlScheme(Text, kRawTcpScheme);
}

TSerialServerUrl ParseSerialServerUrl(std::string_view Text) {
  const auto malformed = [&Text](const char* Why) {
    return Exception("'" + std::string(Text) + "' is not a serial device server URL (" + Why + ")");
  };
  TSerialServerUrl url;
  std::string_view rest;
  if (HasUrlScheme(Text, kRfc2217Scheme)) {
    rest = Text.substr(kRfc2217Scheme.size());
  } else if (HasUrlScheme(Text, kRawTcpScheme)) {
    url.Protocol = TServerProtocol::RawTcp;
    rest = Text.substr(kRawTcpScheme.size());
  } else {
    throw malformed("rfc2217:// or tcp:// expected");
  }
  try {
    THostPort address = ParseHostPort(rest);
    url.Host = std::move(address.Host);
    url.Port = std::move(address.Port);
  } catch (const Exception& error) {
    throw malformed(error.what());
  }
  return url;
}

std::string ServerAddressText(const TSerialServerUrl& Url) {
  return HostPortText({Url.Host, Url.Port});
}
