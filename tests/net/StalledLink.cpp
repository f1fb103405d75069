#include "tests/net/StalledLink.h"

#include <thread>

#include "net/uci_SerialServer.h"
#include "tests/net/SilentNameServer.h"
#include "tests/net/TestServer.h"

using Clock = std::chrono::steady_clock;

bool SurvivesStall(std::chrono::seconds Stall) {
  TTestServer server;
  const TPortEntry entry(server.Url("tcp"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  if (!channel->Open() || !server.Accept()) return false;
  SetLoopbackUp(false);
  channel->Write("*a");
  std::this_thread::sleep_for(Stall);
  SetLoopbackUp(true);
  return server.Receive(2) == "*a" && channel->GetActive();
}

double DeadNoticedSeconds(bool Busy) {
  TTestServer server;
  const TPortEntry entry(server.Url("tcp"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  if (!channel->Open() || !server.Accept()) return -1;
  SetLoopbackUp(false);
  const auto start = Clock::now();
  if (Busy) channel->Write("*a");
  while (channel->InputCount() >= 0 && Clock::now() - start < std::chrono::minutes(1))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  SetLoopbackUp(true);
  return channel->InputCount() < 0 ? seconds : -1;
}
