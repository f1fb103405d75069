// A COM port closed or destroyed by its own handlers: in the main thread's data notification
// and in the event thread's non-sync handler.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "SerialTestUtils.h"
#include "comm/uci_ISerialPortInterface.h"
#include "serial/AfComPort.h"

namespace {

using namespace std::chrono_literals;

struct ComPortTeardownTest : ::testing::Test {
  TTestMainThread Main;
  std::shared_ptr<TAfSimLine> Line = std::make_shared<TAfSimLine>();
  TTestLines Lines{{{3, Line}}};
};

TEST_F(ComPortTeardownTest, APortClosedOrDestroyedByItsOwnHandlerLetsGoOfTheLine) {
  const struct {
    const char* Name;
    bool NonSync, Destroy;
  } cases[] = {
      {"closed in the data notification", false, false},
      {"destroyed in the data notification", false, true},
      {"closed in the non-sync handler", true, false},
      {"destroyed in the non-sync handler", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto port = std::make_unique<TAfComPort>();
    port->SetComNumber(3);
    std::atomic<bool> started{false}, done{false};
    const auto act = [&] {
      if (started.exchange(true)) return;
      if (c.Destroy)
        port.reset();
      else
        port->Close();
      done = true;
    };
    if (c.NonSync)
      port->SetOnNonSyncEvent([&](TAfCustomSerialPort*, TAfCoreEvent, std::uint32_t) { act(); });
    else
      port->OnDataRecived = [&](TAfCustomSerialPort*, std::int32_t) { act(); };
    port->Open();
    Line->Receive("x");
    ASSERT_TRUE(Main.PumpUntil([&] { return done.load(); }));
    EXPECT_FALSE(Line->IsOpen());
    if (port) {
      EXPECT_FALSE(port->Active());
      port->Open();  // a closed port opens again
      EXPECT_TRUE(Line->IsOpen());
    }
  }
}

TEST_F(ComPortTeardownTest, AChannelReleasedInItsDataNotificationClosesItsPort) {
  struct THolder {
    TIntfPtr<ICommunicationInterface> Channel;
    void Data(const TIntfPtr<ICommunicationInterface>&) { Channel.Reset(); }
  } holder;
  holder.Channel = Create<TSerialPortInterface>("comport=3");
  holder.Channel->GetDataReceivedEvents().Add(TCiNotify::Bind<&THolder::Data>(&holder));
  ASSERT_TRUE(holder.Channel->Open());
  Line->SetModemStatus(MS_CTS_ON);  // a line event with the data: more follows the notification
  Line->Receive("x");
  ASSERT_TRUE(Main.PumpUntil([&] { return !holder.Channel; }));
  EXPECT_FALSE(Line->IsOpen());
}

}  // namespace
