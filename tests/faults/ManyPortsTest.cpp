// Every one of the 255 COM port numbers configured, each a pseudo-terminal with nothing
// answering behind it: the interface manager lists them all, checking each finds no module
// within the check's limit, and nothing is left running afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "sim/uScriptedPeer.h"
#include "support/uStringUtils.h"
#include "tests/faults/FaultRig.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDImanager.h"

namespace {

using namespace std::chrono_literals;

constexpr int kCheckers = 5;  // ports checked side by side, 51 each

TEST(ManyPortsTest, RebuildListsEveryPortAndNoneHasAModule) {
  const std::size_t threads = ThreadCount();
  {
    FakeFtdi_Reset();
    std::vector<std::unique_ptr<TSimPty>> ptys;
    std::string map;
    for (int n = 1; n <= kHighestProbedComPort; ++n) {
      ptys.push_back(std::make_unique<TSimPty>(std::make_shared<TScriptedPeer>()));
      map += Format("%d=%s;", n, ptys.back()->SlavePath().c_str());
    }
    setenv("KVX_COMPORTS", map.c_str(), 1);
    TTestMainThread main;
    TFTDIManager manager;
    ASSERT_EQ(manager.RebuildChannels(), 0);
    ASSERT_EQ(manager.ChannelCount(), kHighestProbedComPort);
    std::vector<TKVXChannel> channels;
    TKVXChannel channel;
    for (manager.FirstChannel(channel); channel; manager.NextChannel(channel))
      channels.push_back(channel);
    ASSERT_EQ(channels.size(), static_cast<std::size_t>(kHighestProbedComPort));
    EXPECT_EQ(channels.front()->GetPortName(), "COM1");
    EXPECT_EQ(channels.back()->GetPortName(), Format("COM%d", kHighestProbedComPort));

    std::atomic<int> opened{0}, found{0}, slow{0};
    std::vector<std::thread> checkers;
    for (int c = 0; c < kCheckers; ++c)
      checkers.emplace_back([&, c] {
        for (std::size_t i = c; i < channels.size(); i += kCheckers) {
          if (!channels[i]->Open()) continue;
          ++opened;
          if (Timed([&] { found += CheckDevice(channels[i]); }) >
              3 * std::chrono::milliseconds(kTransactPause + kCheckTimeout))
            ++slow;
          channels[i]->Close(false);
        }
      });
    for (auto& checker : checkers) checker.join();
    EXPECT_EQ(opened, kHighestProbedComPort);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(slow, 0);
    channels.clear();
    unsetenv("KVX_COMPORTS");
  }
  EXPECT_EQ(ThreadCountSettlesAt(threads), threads);
}

}  // namespace
