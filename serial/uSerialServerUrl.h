#pragma once
// Connection URLs of serial device servers: "rfc2217://HOST:PORT" (Telnet with the COM port
// control option, the server's line set from here) and "tcp://HOST:PORT" (raw bytes, the
// server's line fixed by its own configuration). HOST may be a name, an IPv4 address or an
// IPv6 address in brackets.
#include <string>
#include <string_view>

enum class TServerProtocol { Rfc2217, RawTcp };

struct TSerialServerUrl {
  TServerProtocol Protocol = TServerProtocol::Rfc2217;
  std::string Host;
  std::string Port;
};

// Whether Text begins with one of the two schemes (letter case ignored).
bool IsSerialServerUrl(std::string_view Text);
// Raises Exception naming Text when it is not a complete URL of either kind.
TSerialServerUrl ParseSerialServerUrl(std::string_view Text);
// "HOST:PORT" as a URL spells it, an IPv6 address in brackets ("[::1]:4001").
std::string ServerAddressText(const TSerialServerUrl& Url);
