#include "net/uTcpSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

struct TAddrInfoFree {
  void operator()(addrinfo* List) const { freeaddrinfo(List); }
};

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

// One connect attempt on one address; the socket is kept in Handle when it succeeds.
TTcpResult ConnectOne(const addrinfo& Address, Clock::time_point Deadline,
                      unsigned int UnacknowledgedLimitMs, int& Handle, std::string& Error) {
  const int fd = socket(Address.ai_family, Address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Error = std::strerror(errno);
    return TTcpResult::Failed;
  }
  int code = connect(fd, Address.ai_addr, Address.ai_addrlen) == 0 ? 0 : errno;
  if (code == EINPROGRESS) {
    pollfd waiting{fd, POLLOUT, 0};
    int ready;
    do ready = poll(&waiting, 1, RemainingMs(Deadline));
    while (ready < 0 && errno == EINTR);
    socklen_t length = sizeof code;
    if (ready == 0)
      code = ETIMEDOUT;
    else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
      code = errno;
  }
  if (code != 0) {
    close(fd);
    Error = std::strerror(code);
    return ResultOfErrno(code);
  }
  // Requests are small and wait for their answer: send them at once. Bytes the server does
  // not acknowledge within the time limit end the connection, so a silent link is noticed.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const unsigned int unacknowledged = UnacknowledgedLimitMs;
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
  Handle = fd;
  return TTcpResult::Done;
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
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int code = getaddrinfo(Host.c_str(), Port.c_str(), &hints, &found); code != 0) {
    Error = gai_strerror(code);
    return TTcpResult::Failed;
  }
  const std::unique_ptr<addrinfo, TAddrInfoFree> list(found);
  const auto deadline = Clock::now() + Limit;
  TTcpResult result = TTcpResult::Failed;
  for (const addrinfo* address = list.get(); address; address = address->ai_next) {
    result =
        ConnectOne(*address, deadline, static_cast<unsigned int>(Limit.count()), FHandle, Error);
    if (result == TTcpResult::Done || RemainingMs(deadline) == 0) break;
  }
  return result;
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
