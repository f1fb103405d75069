// A device server channel closed or released from its own data notification, which runs on
// the channel's reader thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/uci_SerialServer.h"
#include "tests/net/TestServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Holds a channel and does to it, in its data notification, what the case asks.
struct TNotifiedHolder {
  bool Close = false;
  bool Release = false;
  TIntfPtr<ICommunicationInterface> Channel;
  std::atomic<int> Closed{0};
  std::atomic<bool> Done{false};

  void DataReceived(const TIntfPtr<ICommunicationInterface>& Sender) {
    if (Done) return;
    if (Close) Sender->Close(false);
    if (Release) Channel.Reset();
    Done = true;
  }
  void ClosedNotified(const TIntfPtr<ICommunicationInterface>&) { ++Closed; }
};

bool WaitUntil(const std::atomic<bool>& Flag) {
  const auto until = Clock::now() + 5s;
  while (!Flag && Clock::now() < until) std::this_thread::sleep_for(1ms);
  return Flag;
}

TEST(SerialServerTeardown, ClosingOrReleasingFromTheDataNotificationEndsTheConnection) {
  const struct {
    const char* Name;
    bool Close, Release;
  } cases[] = {
      {"closed", true, false},
      {"released", false, true},
      {"closed, then released", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestServer server;
    setenv("KVX_COMPORTS", ("9=" + server.Url("tcp")).c_str(), 1);
    TNotifiedHolder holder;  // outlives the channel and its reader
    holder.Close = c.Close;
    holder.Release = c.Release;
    holder.Channel = Create<TSerialServerInterface>("comport=9");
    holder.Channel->GetDataReceivedEvents().Add(Bind<&TNotifiedHolder::DataReceived>(&holder));
    holder.Channel->GetClosedEvents().Add(Bind<&TNotifiedHolder::ClosedNotified>(&holder));
    // Held here too unless the notification is to drop the last reference.
    TIntfPtr<ICommunicationInterface> kept = c.Release ? nullptr : holder.Channel;
    ASSERT_TRUE(holder.Channel->Open());
    ASSERT_TRUE(server.Accept());
    server.Send("x");
    ASSERT_TRUE(WaitUntil(holder.Done));
    EXPECT_TRUE(server.ClientHungUp());
    if (kept) {
      EXPECT_FALSE(kept->GetActive());
      EXPECT_EQ(holder.Closed, 1);
      ASSERT_TRUE(kept->Open());  // a fresh connection
      ASSERT_TRUE(server.Accept());
    }
    unsetenv("KVX_COMPORTS");
  }
}

}  // namespace
