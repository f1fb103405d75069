#pragma once
// Host names looked up on a thread of their own: a name server that does not answer costs
// the caller its time limit, never the system resolver's full time-out.
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

struct TSocketAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  int Family = AF_UNSPEC;
};

enum class TResolveResult { Done, Unknown, TimedOut };

// The addresses of Host:Port for a TCP connection, in the order the system prefers them.
// Error gets the system's words when there are none.
TResolveResult ResolveHost(const std::string& Host, const std::string& Port,
                           std::chrono::milliseconds Limit, std::vector<TSocketAddress>& Addresses,
                           std::string& Error);
