// The main window's controller when its module falls silent or its adapter is pulled out:
// the measured values turn to "-", a save that cannot finish shows the error page, both in
// time, and the module keeps every field the operator did not edit.
#include <gtest/gtest.h>

#include "support/uStringUtils.h"
#include "tests/app/AppRig.h"
#include "tests/faults/FaultRig.h"

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

  TAppRig rig;
};

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
