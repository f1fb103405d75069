// The main window's controller when its module falls silent, its line is hung up or its
// adapter is pulled out: the measured values turn to "-", a line that went away takes the
// window to the search page naming the port, a save that cannot finish shows the error page,
// all in time, and the module keeps every field the operator did not edit.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "support/uStringUtils.h"
#include "tests/app/AppRig.h"
#include "tests/faults/FaultRig.h"
#include "tests/serial/KernelHangUp.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kTickLimit{3 * 3 * (kTransactPause + kMeasureTimeout)};

class WindowFaultTest : public ::testing::Test {
 protected:
  void Connect(const std::string& Name) {
    rig.Manager().RebuildChannels();
    TKVXChannel channel;
    rig.Manager().FindChannel(Name, channel);
    ASSERT_TRUE(channel);
    rig.Form().Connect(channel);
    ASSERT_EQ(rig.PageShown(), "pMeasure");
  }
  std::chrono::milliseconds Tick() {
    return Timed([&] { rig["Timer1"].Fire("OnTimer"); });
  }
  int Dashes() {
    int dashes = 0;
    for (int n = 1; n <= kChannelCount; ++n)
      dashes += rig[Format("lMeasuringChannel%dValue", n)].GetText("Caption") == "-";
    return dashes;
  }

  // The page the window shows once it has handled what is pending, waiting for the
  // search page up to a limit that only a hang would exceed.
  std::string PageAfterEvents() {
    rig.Main.PumpUntil([&] { return rig.PageShown() == "pSearch"; });
    return rig.PageShown();
  }

  TAppRig rig;
};

// A line that carries bytes without end, about one a millisecond, and never a frame.
class TTalkerPeer : public ISimPeer {
 public:
  void Write(std::string_view, std::uint32_t, Clock::time_point) override {}
  std::string Read(Clock::time_point now) override {
    std::lock_guard lock(FLock);
    const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(now - FSent).count();
    if (due <= 0) return {};
    FSent = now;
    return std::string(static_cast<std::size_t>(std::min<long long>(due, 64)), 'S');
  }
  std::size_t Available(Clock::time_point now) const override {
    std::lock_guard lock(FLock);
    return now > FSent ? 1 : 0;
  }
  std::optional<Clock::time_point> NextDue() const override {
    std::lock_guard lock(FLock);
    return FSent + std::chrono::milliseconds(1);
  }

 private:
  mutable std::mutex FLock;
  Clock::time_point FSent = Clock::now();
};

// Says nothing, and runs its hook (once, on the line's thread) when it hears the first request;
// the hook's result is kept. The request may come from any thread of a search.
class TRequestHook : public ISimPeer {
 public:
  void SetOnRequest(std::function<std::string()> Hook) {
    std::lock_guard lock(FLock);
    FOnRequest = std::move(Hook);
  }
  // Empty until the hook has run.
  std::optional<std::string> Result() const {
    std::lock_guard lock(FLock);
    return FResult;
  }
  void Write(std::string_view, std::uint32_t, Clock::time_point) override {
    std::function<std::string()> hook;
    {
      std::lock_guard lock(FLock);
      hook = std::exchange(FOnRequest, {});
    }
    if (!hook) return;
    std::string result = hook();
    std::lock_guard lock(FLock);
    FResult = std::move(result);
  }
  std::string Read(Clock::time_point) override { return {}; }
  std::size_t Available(Clock::time_point) const override { return 0; }
  std::optional<Clock::time_point> NextDue() const override { return std::nullopt; }

 private:
  mutable std::mutex FLock;
  std::function<std::string()> FOnRequest;
  std::optional<std::string> FResult;
};

TEST_F(WindowFaultTest, HungUpLineTakesTheWindowToTheSearchPageNamingThePort) {
  const TKvxSimState state = KvxSimFactoryState(mtRS, 34);
  auto module = rig.AddComModule(34, state);
  const std::size_t threads = ThreadCount();
  Connect("COM34");
  EXPECT_LT(Tick(), kTickLimit);
  EXPECT_EQ(Dashes(), 0);
  if (const std::string why = KernelHangUp(rig.ComPath(34)); !why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(PageAfterEvents(), "pSearch");
  EXPECT_TRUE(rig["lChannelGone"].GetBool("Visible"));
  EXPECT_EQ(rig["lChannelGone"].GetText("Caption"), "COM34 byl odpojen.");
  EXPECT_FALSE(rig["Timer1"].GetBool("Enabled"));
  EXPECT_FALSE(rig.Form().CurrentChannel());
  // The port's threads have ended: a dead line costs nothing.
  EXPECT_EQ(ThreadCountSettlesAt(threads), threads);
  // A new search clears the message.
  rig["sSearch"].Click();
  EXPECT_FALSE(rig["lChannelGone"].GetBool("Visible"));
  EXPECT_EQ(SimConfigImage(module->State()), SimConfigImage(state));
}

TEST_F(WindowFaultTest, PulledAdapterTakesTheWindowToTheSearchPageWithoutADeviceNotification) {
  const TKvxSimState state = KvxSimFactoryState(mtUSB, 12);
  auto module = rig.AddUsbModule("KVX0012", "KVX DAZAZE", state);
  Connect("KVX0012");
  FakeFtdi_Unplug("KVX0012");
  EXPECT_LT(Tick(), kTickLimit);
  EXPECT_EQ(PageAfterEvents(), "pSearch");
  EXPECT_EQ(rig["lChannelGone"].GetText("Caption"), "KVX0012 byl odpojen.");
  EXPECT_EQ(SimConfigImage(module->State()), SimConfigImage(state));
}

TEST_F(WindowFaultTest, SearchGoesOnPastHungUpAndStreamingPortsWithinTheBudgetOfSilentOnes) {
  for (int port : {41, 42, 43}) rig.AddComPeer(port, std::make_shared<TRequestHook>());
  auto hangUp = std::make_shared<TRequestHook>();
  rig.AddComPeer(44, hangUp);
  rig.AddComPeer(45, std::make_shared<TTalkerPeer>());
  rig.AddComPeer(46, std::make_shared<TRequestHook>());
  rig.AddComModule(47, KvxSimFactoryState(mtRS, 47));
  hangUp->SetOnRequest([path = rig.ComPath(44)] { return KernelHangUp(path); });
  rig["sSearch"].Click();
  const std::string why = hangUp->Result().value_or("the port was never asked");
  if (!why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(rig["lbFoundedModules"].Items(), std::vector<std::string>{"VIROD|COM47|0047"});
  const auto testOf = [&](int port) {
    const std::vector<TTraceLine> lines = rig.TraceOfTest(Format("COM%d", port));
    EXPECT_GE(lines.size(), 2u) << port;
    EXPECT_EQ(lines.back().Point, 12) << port;  // no module there
    return lines.size() < 2 ? std::chrono::milliseconds::max() : lines.back().At - lines.front().At;
  };
  const auto silentBudget = testOf(41) + testOf(42) + testOf(43);
  EXPECT_LE(testOf(44) + testOf(45) + testOf(46), silentBudget + 200ms);
}

TEST_F(WindowFaultTest, PulledAdapterTurnsTheValuesToDashes) {
  const TKvxSimState state = KvxSimFactoryState(mtUSB, 9);
  auto module = rig.AddUsbModule("KVX0009", "KVX DAZAZE", state);
  Connect("KVX0009");
  EXPECT_LT(Tick(), kTickLimit);
  EXPECT_EQ(Dashes(), 0);
  rig.UnplugUsb("KVX0009");
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_LT(Tick(), kTickLimit);
    EXPECT_EQ(Dashes(), kChannelCount);
  }
  EXPECT_EQ(SimConfigImage(module->State()), SimConfigImage(state));
}

TEST_F(WindowFaultTest, ModuleFallingSilentWhileMeasuringTurnsTheValuesToDashes) {
  const TKvxSimState state = KvxSimFactoryState(mtRS, 10);
  auto module = rig.AddComModule(4, state);
  Connect("COM4");
  EXPECT_LT(Tick(), kTickLimit);
  EXPECT_EQ(Dashes(), 0);
  TKvxSimFaults faults;
  faults.StopAfter = 0;
  module->SetFaults(faults);
  EXPECT_LT(Tick(), kTickLimit);
  EXPECT_EQ(Dashes(), kChannelCount);
  EXPECT_EQ(rig.PageShown(), "pMeasure");
  EXPECT_EQ(SimConfigImage(module->State()), SimConfigImage(state));
}

// The save stops after a number of answered requests; whatever reached the module, it holds
// nothing but the operator's two edits (user data and the unit of channel 2).
TEST_F(WindowFaultTest, SaveCutShortShowsTheErrorPageAndWritesOnlyTheEdits) {
  const TKvxSimState state = KvxSimFactoryState(mtRS, 11);
  auto module = rig.AddComModule(5, state);
  Connect("COM5");
  const std::chrono::milliseconds step(kTransactPause + std::max(kUploadTimeout, kDownloadTimeout));
  const auto saveLimit =
      3 * (16 * step + std::chrono::milliseconds(kSettlePause) + kFailedStepLimit);
  for (int answered : {0, 2, 5}) {
    SCOPED_TRACE(answered);
    module->SetFaults({});
    module->SetState(state);
    rig["ShapeEx5"].Click();  // retry, or nothing when no error is shown
    if (rig.PageShown() == "pError") rig["ShapeEx5"].Click();
    rig["sbCommunication"].Set("Down", true);
    rig["sbCommunication"].Click();
    rig["mUserData"].Edit("Text", "cut short");
    rig["sbChannel2"].Set("Down", true);
    rig["sbChannel2"].Click();
    rig["eChannelUnit"].Edit("Text", "kPa");
    ASSERT_TRUE(rig["sSaveChanges1"].GetBool("Visible"));
    TKvxSimFaults faults;
    faults.StopAfter = answered;
    module->SetFaults(faults);
    EXPECT_LT(Timed([&] { rig["sSaveChanges1"].Click(); }), saveLimit);
    EXPECT_EQ(rig.PageShown(), "pError");
    TKvxSimState held = module->State();
    held.UserData = state.UserData;
    held.Channels[2].Setup.Unit = state.Channels[2].Setup.Unit;
    EXPECT_EQ(SimConfigImage(held), SimConfigImage(state));
  }
}

}  // namespace
