#include "tests/net/DelayRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int Port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(Port));
  return address;
}

struct TDelayed {
  Clock::time_point Due;
  std::string Bytes;
};

// Reads what From has into Queue, due after Delay; false when From closed.
bool Take(int From, std::deque<TDelayed>& Queue, std::chrono::milliseconds Delay) {
  char buffer[4096];
  const ssize_t got = recv(From, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  Queue.push_back({Clock::now() + Delay, std::string(buffer, static_cast<std::size_t>(got))});
  return true;
}

void SendDue(int To, std::deque<TDelayed>& Queue) {
  while (!Queue.empty() && Queue.front().Due <= Clock::now()) {
    send(To, Queue.front().Bytes.data(), Queue.front().Bytes.size(), MSG_NOSIGNAL);
    Queue.pop_front();
  }
}

}  // namespace

TDelayRelay::TDelayRelay(int TargetPort, std::chrono::milliseconds Delay)
    : FTargetPort(TargetPort), FDelay(Delay) {
  FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) ||
      listen(FListener, 4))
    throw std::runtime_error("relay: no local port");
  FPort = ntohs(address.sin_port);
  FStop = eventfd(0, EFD_CLOEXEC);
  FThread = std::thread(&TDelayRelay::Run, this);
}

TDelayRelay::~TDelayRelay() {
  const std::uint64_t one = 1;
  if (write(FStop, &one, sizeof one) == sizeof one)
    FThread.join();
  else
    FThread.detach();
  close(FStop);
  close(FListener);
}

void TDelayRelay::Run() {
  for (;;) {
    pollfd waits[2] = {{FListener, POLLIN, 0}, {FStop, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 || waits[1].revents) return;
    const int client = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = Loopback(FTargetPort);
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(upstream, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
      Pump(client, upstream);
    close(upstream);
    close(client);
  }
}

void TDelayRelay::Pump(int Client, int Upstream) {
  std::deque<TDelayed> toUpstream, toClient;
  for (;;) {
    int wait = -1;
    for (const auto* queue : {&toUpstream, &toClient})
      if (!queue->empty()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(queue->front().Due - Clock::now())
                .count() +
            1;
        wait = wait < 0 ? static_cast<int>(std::max<long>(left, 0))
                        : std::min(wait, static_cast<int>(std::max<long>(left, 0)));
      }
    pollfd waits[3] = {{Client, POLLIN, 0}, {Upstream, POLLIN, 0}, {FStop, POLLIN, 0}};
    if (poll(waits, 3, wait) < 0 || waits[2].revents) return;
    if (waits[0].revents && !Take(Client, toUpstream, FDelay)) return;
    if (waits[1].revents && !Take(Upstream, toClient, FDelay)) return;
    SendDue(Upstream, toUpstream);
    SendDue(Client, toClient);
  }
}
