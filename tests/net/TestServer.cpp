#include "tests/net/TestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

int Listen(int& Port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no local port");
  Port = ntohs(address.sin_port);
  return fd;
}

int RemainingMs(Clock::time_point Deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

TPortEntry::TPortEntry(const std::string& Url) {
  setenv("KVX_COMPORTS", ("9=" + Url).c_str(), 1);
}

TPortEntry::~TPortEntry() {
  unsetenv("KVX_COMPORTS");
}

int FreeLocalPort() {
  int port = 0;
  close(Listen(port));
  return port;
}

TFullListener::TFullListener(bool V6, int Port) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (V6) {
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<std::uint16_t>(Port));
    address.sin6_addr = in6addr_loopback;
    length = sizeof address;
  } else {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof address;
  }
  auto* address = reinterpret_cast<sockaddr*>(&storage);
  const int on = 1;
  FListener = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (V6) setsockopt(FListener, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  // A queue of none, taken by one connection that is never accepted.
  if (FListener < 0 || bind(FListener, address, length) != 0 || listen(FListener, 0) != 0 ||
      getsockname(FListener, address, &length) != 0)
    throw std::runtime_error("no listener on loopback");
  FPort = ntohs(V6 ? reinterpret_cast<sockaddr_in6*>(address)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(address)->sin_port);
  FFiller = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFiller < 0 || connect(FFiller, address, length) != 0)
    throw std::runtime_error("cannot fill the listener's queue");
}

TFullListener::~TFullListener() {
  close(FFiller);
  close(FListener);
}

TTestServer::TTestServer() {
  FListener = Listen(FPort);
  listen(FListener, 4);
}

TTestServer::~TTestServer() {
  Hangup();
  close(FListener);
}

std::string TTestServer::Url(const char* Scheme) const {
  return std::string(Scheme) + "://127.0.0.1:" + std::to_string(FPort);
}

bool TTestServer::Accept(std::chrono::milliseconds Limit) {
  Hangup();
  pollfd waiting{FListener, POLLIN, 0};
  if (poll(&waiting, 1, static_cast<int>(Limit.count())) <= 0) return false;
  FConnection = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
  return FConnection >= 0;
}

std::string TTestServer::Receive(std::size_t Count, std::chrono::milliseconds Limit) {
  std::string received;
  const auto deadline = Clock::now() + Limit;
  while (received.size() < Count) {
    pollfd waiting{FConnection, POLLIN, 0};
    if (poll(&waiting, 1, RemainingMs(deadline)) <= 0) break;
    char buffer[512];
    const ssize_t got = recv(FConnection, buffer, sizeof buffer, 0);
    if (got == 0) Hangup();
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  return received;
}

void TTestServer::Send(std::string_view Bytes) {
  if (send(FConnection, Bytes.data(), Bytes.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(Bytes.size()))
    throw std::runtime_error("test server could not send");
}

void TTestServer::Hangup() {
  if (FConnection >= 0) close(FConnection);
  FConnection = -1;
}

bool TTestServer::ClientHungUp(std::chrono::milliseconds Limit) {
  const auto deadline = Clock::now() + Limit;
  while (FConnection >= 0) {
    pollfd waiting{FConnection, POLLIN, 0};
    if (poll(&waiting, 1, RemainingMs(deadline)) <= 0) return false;
    char buffer[512];
    if (recv(FConnection, buffer, sizeof buffer, 0) <= 0) Hangup();
  }
  return true;
}
