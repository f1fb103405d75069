// kvxctl backup and restore, run in this process against simulated modules: what each
// module receives.
#include <gtest/gtest.h>

#include <bit>
#include <sstream>

#include "sim/uKvxSimDevice.h"
#include "support/uConversionUtils.h"
#include "tests/app/AppRig.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

struct TRun {
  int Code;
  std::string Out;
  std::string Err;
};

TRun RunCtl(const std::vector<std::string>& Args) {
  std::ostringstream out, err;
  try {
    const int code = RunCtlCommand(ParseCtlOptions(Args), out, err);
    return {code, out.str(), err.str()};
  } catch (const TCtlError& error) {
    return {error.Code(), out.str(), err.str() + error.what()};
  }
}

// The data of the write instructions Module received since the last call.
std::string TakeWrites(TKvxSimModule& Module) {
  std::string writes;
  for (const TKvxSimRequest& request : Module.Requests())
    if (IsSimWrite(request.Instruction)) writes += request.Data;
  Module.ClearRequests();
  return writes;
}

TKvxSimState FastModule(std::uint16_t Serial) {
  TKvxSimState state = KvxSimFactoryState(mtRS, Serial);
  state.SpeedCode = 10;  // 115200 bit/s
  return state;
}

TEST(CtlRestore, ABackupRestoresEveryRealBitForBit) {
  struct TOddReal {  // a single of a channel that no decimal carries, and its stream item
    const char* What;
    int Channel;
    float TChannelSetup::*Setup;
    float TChannelWatch::*Watch;
    std::uint8_t Code;
    std::uint32_t Bits;
  };
  const TOddReal reals[] = {
      {"erased hysteresis", 2, nullptr, &TChannelWatch::Hysteresis, 0x17, 0xFFFFFFFF},
      {"-0 lower limit", 3, nullptr, &TChannelWatch::LowerLimit, 0x15, 0x80000000},
      {"signalling not-a-number upper limit", 4, nullptr, &TChannelWatch::UpperLimit, 0x13,
       0x7FA01234},
      {"erased scale", 1, &TChannelSetup::Scale, nullptr, 0x16, 0xFFFFFFFF},
      {"-0 offset", 2, &TChannelSetup::Offset, nullptr, 0x18, 0x80000000}};
  for (const TOddReal& real : reals) {
    SCOPED_TRACE(real.What);
    auto single = [&real](TKvxSimState& State) -> float& {
      TKvxSimChannel& channel = State.Channels[real.Channel];
      return real.Setup ? channel.Setup.*real.Setup : channel.Watch.*real.Watch;
    };
    TKvxSimState state = FastModule(4711);
    single(state) = std::bit_cast<float>(real.Bits);
    TAppRig rig;
    const TTempDir dir;
    const std::string file = dir.File("backup.json");
    TKvxSimModule& module = *rig.AddComModule(100, state);
    ASSERT_EQ(RunCtl({"backup", "COM100", file}).Code, 0);
    EXPECT_EQ(RunCtl({"restore", "COM100", file}).Code, 0);
    EXPECT_EQ(TakeWrites(module), "") << "the module it came from holds it all";

    single(state) = 3;
    module.SetState(state);
    EXPECT_EQ(RunCtl({"restore", "COM100", file}).Code, 0);
    EXPECT_NE(TakeWrites(module).find(Byte(real.Code) + BigEndian32(real.Bits)), std::string::npos);
    single(state) = std::bit_cast<float>(real.Bits);
    EXPECT_EQ(SimConfigImage(module.State()), SimConfigImage(state));
  }
}

TEST(CtlRestore, ABackupOfAnotherSerialNumberIsWrittenOnlyWhenAskedFor) {
  TKvxSimState other = FastModule(4712);
  other.Channels[1].Setup.Name = "Jin\xFD";
  TAppRig rig;
  const TTempDir dir;
  const std::string file = dir.File("4711.json");
  rig.AddComModule(100, FastModule(4711));
  TKvxSimModule& module = *rig.AddComModule(101, other);
  ASSERT_EQ(RunCtl({"backup", "COM100", file}).Code, 0);
  const std::string serials = "from serial number 4711, this module is 4712";
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Out, Err;
    bool Writes;
  } cases[] = {{{}, 2, "", serials + "; restore it onto this module with --to-other-module", false},
               {{"--dry-run"}, 0, "ch1.name: \"Jiný\" -> \"Teplota pece\"\n", serials, false},
               {{"--to-other-module"}, 0, "restored and verified 1 field(s)", serials, true}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Args.empty() ? "no option" : test.Args[0]);
    std::vector<std::string> args{"restore", "COM101", file};
    args.insert(args.end(), test.Args.begin(), test.Args.end());
    const TRun run = RunCtl(args);
    EXPECT_EQ(run.Code, test.Code);
    EXPECT_NE(run.Out.find(test.Out), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(test.Err), std::string::npos) << run.Err;
    EXPECT_EQ(!TakeWrites(module).empty(), test.Writes);
  }
}

}  // namespace
