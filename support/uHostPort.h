#pragma once
// "HOST:PORT" as a URL spells it after its scheme: HOST a name, an IPv4 address or an IPv6
// address in brackets ("[::1]:4001"), PORT 1 to 65535, a trailing '/' allowed.
#include <string>
#include <string_view>

struct THostPort {
  std::string Host;
  std::string Port;
};

// Whether Text begins with Scheme ("tcp://"), letter case ignored.
bool HasUrlScheme(std::string_view Text, std::string_view Scheme);
// Raises Exception with the reason alone ("port 1 to 65535 expected"); the caller names the
// text. Without a port in Text, DefaultPort is taken, or the port is missing when it is empty.
THostPort ParseHostPort(std::string_view Text, std::string_view DefaultPort = {});
// Text as ParseHostPort takes it, an IPv6 address in brackets.
std::string HostPortText(const THostPort& Address);
