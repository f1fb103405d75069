#include "net/uTcpSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "comm/uci_ICommunicationInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks whether the program was asked to end.
constexpr std::chrono::milliseconds kStopSlice{10};

struct TSocketAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  int Family = AF_UNSPEC;
};

enum class TResolveResult { Done, Unknown, TimedOut };

// How long this program's lookups wait for one name server answer, once: a lookup the caller
// gave up on ends soon after, so its thread does not linger (the system's default is five
// seconds, twice, per server and per search domain).
constexpr int kNameServerWaitSeconds = 2;

struct TLookup {
  std::string Host;
  std::string Port;
  std::mutex Lock;
  std::condition_variable Ended;
  bool Finished = false;
  int Code = 0;
  std::vector<TSocketAddress> Addresses;
};

struct TAddrInfoFree {
  void operator()(addrinfo* List) const { freeaddrinfo(List); }
};

void RunLookup(const std::shared_ptr<TLookup>& Lookup) {
  // The resolver state is the thread's own: these limits touch no other lookup.
  if (res_init() == 0) {
    _res.retrans = kNameServerWaitSeconds;
    _res.retry = 1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int code = getaddrinfo(Lookup->Host.c_str(), Lookup->Port.c_str(), &hints, &found);
  const std::unique_ptr<addrinfo, TAddrInfoFree> list(found);
  std::vector<TSocketAddress> addresses;
  for (const addrinfo* entry = list.get(); code == 0 && entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TSocketAddress address;
    std::memcpy(&address.Address, entry->ai_addr, entry->ai_addrlen);
    address.Length = entry->ai_addrlen;
    address.Family = entry->ai_family;
    addresses.push_back(address);
  }
  {
    std::lock_guard guard(Lookup->Lock);
    Lookup->Code = code;
    Lookup->Addresses = std::move(addresses);
    Lookup->Finished = true;
  }
  Lookup->Ended.notify_all();
}

// A lookup runs on a thread of its own that nobody waits for: the caller stops waiting at its
// time limit or when asked to stop, and a program that ends leaves a lookup still running to
// the kernel (its state is shared with the thread, which frees it when done).
std::shared_ptr<TLookup> StartLookup(const std::string& Host, const std::string& Port) {
  auto lookup = std::make_shared<TLookup>();
  lookup->Host = Host;
  lookup->Port = Port;
  std::thread(RunLookup, lookup).detach();
  return lookup;
}

// The addresses of Host:Port for a TCP connection, in the order the system prefers them,
// looked up on a thread of its own: a name server that does not answer costs the caller Limit,
// never the system resolver's full time-out. Error gets the system's words when there are none.
TResolveResult ResolveHost(const std::string& Host, const std::string& Port,
                           std::chrono::milliseconds Limit, std::vector<TSocketAddress>& Addresses,
                           std::string& Error) {
  Addresses.clear();
  const std::shared_ptr<TLookup> lookup = StartLookup(Host, Port);
  std::unique_lock guard(lookup->Lock);
  // In slices: a program asked to end stops waiting at once.
  const auto deadline = Clock::now() + Limit;
  while (!lookup->Ended.wait_for(guard, kStopSlice, [&lookup] { return lookup->Finished; })) {
    if (ExchangesStopped() || Clock::now() >= deadline) {
      Error = ExchangesStopped() ? "stopped" : "no answer from the name server";
      return TResolveResult::TimedOut;
    }
  }
  if (lookup->Code != 0) {
    Error = gai_strerror(lookup->Code);
    return TResolveResult::Unknown;
  }
  Addresses = lookup->Addresses;
  return TResolveResult::Done;
}

int RemainingMs(Clock::time_point Deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

TTcpResult ResultOfErrno(int Code) {
  switch (Code) {
    case ECONNREFUSED:
      return TTcpResult::Refused;
    case ETIMEDOUT:
      return TTcpResult::TimedOut;
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN:
    case ECONNABORTED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
      return TTcpResult::Gone;
    default:
      return TTcpResult::Failed;
  }
}

// Bytes the server leaves unacknowledged this long end the connection: long enough that a
// stalled Wi-Fi or WAN link that recovers stays connected, short enough that a dead one is
// noticed well within a quarter of a minute. An idle connection probes the link as often.
constexpr unsigned int kDeadLinkMs = 12000;
constexpr int kKeepAliveIdleSeconds = 4, kKeepAliveIntervalSeconds = 2, kKeepAliveProbes = 4;

void SetOption(int Handle, int Level, int Name, int Value) {
  setsockopt(Handle, Level, Name, &Value, sizeof Value);
}

void ConfigureConnected(int Handle) {
  // Requests are small and wait for their answer: send them at once.
  SetOption(Handle, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(Handle, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(Handle, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
  SetOption(Handle, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
  SetOption(Handle, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  SetOption(Handle, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kDeadLinkMs));
}

// The addresses alternating between families, each family in the system's order, starting
// with the family the system puts first: a dead route of one family costs one attempt delay.
std::vector<TSocketAddress> Interleaved(const std::vector<TSocketAddress>& Addresses) {
  std::vector<TSocketAddress> first, other;
  for (const TSocketAddress& address : Addresses)
    (address.Family == Addresses.front().Family ? first : other).push_back(address);
  std::vector<TSocketAddress> order;
  for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
    if (i < first.size()) order.push_back(first[i]);
    if (i < other.size()) order.push_back(other[i]);
  }
  return order;
}

}  // namespace

TTcpSocket::~TTcpSocket() {
  Close();
}

TTcpSocket::TTcpSocket(TTcpSocket&& Other) noexcept : FHandle(std::exchange(Other.FHandle, -1)) {}

TTcpSocket& TTcpSocket::operator=(TTcpSocket&& Other) noexcept {
  if (this != &Other) {
    Close();
    FHandle = std::exchange(Other.FHandle, -1);
  }
  return *this;
}

void TTcpSocket::Close() {
  if (FHandle >= 0) close(std::exchange(FHandle, -1));
}

TTcpResult TTcpSocket::Connect(const std::string& Host, const std::string& Port,
                               std::chrono::milliseconds Limit, std::string& Error) {
  Close();
  std::vector<TSocketAddress> addresses;
  if (ResolveHost(Host, Port, Limit, addresses, Error) != TResolveResult::Done)
    return TTcpResult::Unresolved;
  if (addresses.empty()) {
    Error = "no address";
    return TTcpResult::Unresolved;
  }
  const auto deadline = Clock::now() + Limit;
  const std::vector<TSocketAddress> order = Interleaved(addresses);
  // Attempts overlap: the next address starts after a short delay, or at once when an
  // attempt fails; the first that connects is kept.
  std::vector<TTcpSocket> attempts;
  std::size_t next = 0;
  auto nextStart = Clock::now();
  TTcpResult result = TTcpResult::Failed;
  for (;;) {
    if (next < order.size() && (attempts.empty() || Clock::now() >= nextStart)) {
      const TSocketAddress& address = order[next++];
      TTcpSocket attempt(
          socket(address.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
      int code = attempt ? 0 : errno;
      if (attempt && connect(attempt.FHandle, reinterpret_cast<const sockaddr*>(&address.Address),
                             address.Length) != 0)
        code = errno;
      if (code == 0) {
        ConfigureConnected(attempt.FHandle);
        *this = std::move(attempt);
        return TTcpResult::Done;
      }
      if (code == EINPROGRESS) {
        attempts.push_back(std::move(attempt));
        nextStart = Clock::now() + kAttemptDelay;
      } else {
        Error = std::strerror(code);
        result = ResultOfErrno(code);
      }
      continue;
    }
    if (attempts.empty()) return result;
    if (ExchangesStopped()) {
      Error = "stopped";
      return TTcpResult::Failed;
    }
    if (RemainingMs(deadline) == 0) break;
    std::vector<pollfd> waits;
    for (const TTcpSocket& attempt : attempts) waits.push_back({attempt.FHandle, POLLOUT, 0});
    const auto until = next < order.size() ? std::min(nextStart, deadline) : deadline;
    const int wait = std::min(RemainingMs(until), static_cast<int>(kStopSlice.count()));
    if (poll(waits.data(), waits.size(), wait) < 0 && errno != EINTR) {
      Error = std::strerror(errno);
      return TTcpResult::Failed;
    }
    for (std::size_t i = waits.size(); i-- > 0;) {
      if (waits[i].revents == 0) continue;
      int code = 0;
      socklen_t length = sizeof code;
      if (getsockopt(waits[i].fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
      if (code == 0) {
        ConfigureConnected(waits[i].fd);
        *this = std::move(attempts[i]);
        return TTcpResult::Done;
      }
      Error = std::strerror(code);
      result = ResultOfErrno(code);
      attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
      nextStart = Clock::now();
    }
  }
  Error = std::strerror(ETIMEDOUT);
  return TTcpResult::TimedOut;
}

std::chrono::microseconds TTcpSocket::RoundTrip() const {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (FHandle < 0 || getsockopt(FHandle, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
    return std::chrono::microseconds(0);
  return std::chrono::microseconds(info.tcpi_rtt);
}

TTcpResult TTcpSocket::Send(std::string_view Data, std::chrono::milliseconds Limit,
                            std::string& Error) {
  if (FHandle < 0) return TTcpResult::Gone;
  const auto deadline = Clock::now() + Limit;
  while (!Data.empty()) {
    const ssize_t sent = send(FHandle, Data.data(), Data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      Data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd waiting{FHandle, POLLOUT, 0};
      if (poll(&waiting, 1, RemainingMs(deadline)) > 0) continue;
      Error = "the server takes no more data";
      return TTcpResult::TimedOut;
    }
    Error = std::strerror(errno);
    return ResultOfErrno(errno) == TTcpResult::Failed ? TTcpResult::Failed : TTcpResult::Gone;
  }
  return TTcpResult::Done;
}

TTcpResult TTcpSocket::Receive(std::string& Data, std::string& Error) {
  Data.clear();
  if (FHandle < 0) return TTcpResult::Gone;
  char buffer[4096];
  ssize_t got;
  do got = recv(FHandle, buffer, sizeof buffer, MSG_DONTWAIT);
  while (got < 0 && errno == EINTR);
  if (got > 0) {
    // Acknowledged at once: a server that holds back small segments until the previous one
    // is acknowledged (Nagle) would otherwise stall a reply for the delayed-ACK time.
    const int on = 1;
    setsockopt(FHandle, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    Data.assign(buffer, static_cast<std::size_t>(got));
    return TTcpResult::Done;
  }
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return TTcpResult::Done;
  Error = got == 0 ? "closed by the server" : std::strerror(errno);
  return TTcpResult::Gone;
}
