// kvxctl backup and restore against simulated modules: what each module receives.
#include <gtest/gtest.h>

#include <bit>

#include "sim/uKvxSimState.h"
#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"
#include "tests/kvxctl/CtlModuleRig.h"

namespace {

// A single of a channel that no decimal carries.
struct TOddReal {
  const char* Field;
  int Channel;
  float TChannelSetup::*Setup;  // the single, in the setup or in the watching
  float TChannelWatch::*Watch;
  std::uint8_t Code;  // its item in the channel's stream
  std::uint32_t Bits;
};

const TOddReal kOddReals[] = {
    {"erased hysteresis", 2, nullptr, &TChannelWatch::Hysteresis, 0x17, 0xFFFFFFFF},
    {"-0 lower limit", 3, nullptr, &TChannelWatch::LowerLimit, 0x15, 0x80000000},
    {"not-a-number upper limit", 4, nullptr, &TChannelWatch::UpperLimit, 0x13, 0x7FC01234},
    {"erased scale", 1, &TChannelSetup::Scale, nullptr, 0x16, 0xFFFFFFFF},
    {"-0 offset", 2, &TChannelSetup::Offset, nullptr, 0x18, 0x80000000},
};

float& Single(TKvxSimState& State, const TOddReal& Real) {
  TKvxSimChannel& channel = State.Channels[Real.Channel];
  return Real.Setup ? channel.Setup.*Real.Setup : channel.Watch.*Real.Watch;
}

TEST(CtlRestore, ABackupRestoresEveryRealBitForBit) {
  for (const TOddReal& real : kOddReals) {
    SCOPED_TRACE(real.Field);
    TKvxSimState state = KvxSimFactoryState(mtRS, 4711);
    Single(state, real) = std::bit_cast<float>(real.Bits);
    TCtlModuleRig rig({state});
    const std::string file = rig.File("backup.json");
    ASSERT_EQ(rig.Run({"backup", "COM100", file}).Code, 0);
    const std::string original = SimConfigImage(rig.Module(0).State());

    const TRunResult same = rig.Run({"restore", "COM100", file});
    EXPECT_EQ(same.Code, 0) << same.Err;
    EXPECT_EQ(rig.TakeWrites(0), "") << same.Out;

    TKvxSimState changed = rig.Module(0).State();
    Single(changed, real) = 3;
    rig.Module(0).SetState(changed);
    const TRunResult restore = rig.Run({"restore", "COM100", file});
    EXPECT_EQ(restore.Code, 0) << restore.Err;
    EXPECT_NE(rig.TakeWrites(0).find(Byte(real.Code) + BigEndian32(real.Bits)), std::string::npos);
    EXPECT_EQ(SimConfigImage(rig.Module(0).State()), original);
  }
}

TEST(CtlRestore, ABackupOfAnotherSerialNumberIsWrittenOnlyWhenAskedFor) {
  TKvxSimState other = KvxSimFactoryState(mtRS, 4712);
  other.Channels[1].Setup.Name = PadRight("Jin\xFD", kNameWidth);
  TCtlModuleRig rig({KvxSimFactoryState(mtRS, 4711), other});
  const std::string file = rig.File("4711.json");
  ASSERT_EQ(rig.Run({"backup", "COM100", file}).Code, 0);
  struct TCase {
    const char* Option;
    int Code;
    const char* Out;
    const char* Err;
    bool Writes;
  };
  const TCase cases[] = {
      {nullptr, 2, "", "was taken from serial number 4711, this module is 4712; restore it", false},
      {"--dry-run", 0, "ch1.name: \"Jiný\" -> \"Teplota pece\"\n", "4711, this module is 4712",
       false},
      {"--to-other-module", 0, "restored and verified 1 field(s)", "4711, this module is 4712",
       true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Option ? test.Option : "no option");
    std::vector<std::string> args{"restore", "COM101", file};
    if (test.Option) args.push_back(test.Option);
    const TRunResult run = rig.Run(args);
    EXPECT_EQ(run.Code, test.Code);
    EXPECT_NE(run.Out.find(test.Out), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(test.Err), std::string::npos) << run.Err;
    EXPECT_EQ(!rig.TakeWrites(1).empty(), test.Writes);
  }
}

}  // namespace
