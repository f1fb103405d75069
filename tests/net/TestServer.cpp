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
