// A module misbehaving on the line during a download, over the pseudo-terminal and over the
// fake USB adapter: each fault either leaves the download intact or ends it with the step's
// error in time; the module's configuration never changes and no thread is left behind.
#include <gtest/gtest.h>

#include <optional>

#include "sim/uKvxTransactor.h"
#include "support/uErrors.h"
#include "support/uStringUtils.h"
#include "tests/faults/FaultRig.h"

namespace {

using namespace std::chrono_literals;

struct TLineFault {
  const char* Name;
  std::optional<std::uint8_t> Instruction;
  void (*Set)(TKvxSimFaults&);
  const char* Failure;      // the download's error; none when it must succeed
  bool MaySucceed = false;  // whether the fault shows depends on how the reads fall
};

const TLineFault kLineFaults[] = {
    // Bytes behind a frame make it invalid when they arrive in the same read.
    {"noise after the parameters", kiReadCommParams,
     [](TKvxSimFaults& f) { f.NoiseAfter = std::string("\0zz", 3); }, "Device not responding ($F0)",
     true},
    {"reply split in three",
     {},
     [](TKvxSimFaults& f) {
       f.Chunks = 3;
       f.ChunkGap = 15ms;
     },
     nullptr},
    {"reply delayed within the limit", {}, [](TKvxSimFaults& f) { f.ExtraDelay = 200ms; }, nullptr},
    {"noise before the type", kiReadType, [](TKvxSimFaults& f) { f.NoiseBefore = "x"; },
     "Device not responding ($F3)"},
    {"wrong checksum of the setup", kiReadChannelSetup,
     [](TKvxSimFaults& f) { f.WrongChecksum = true; }, "Device not responding"},
    {"truncated loop modes", kiReadLoopModes, [](TKvxSimFaults& f) { f.TruncateBy = 2; },
     "Device not responding ($1B)"},
    {"alternating user data", kiReadUserData, [](TKvxSimFaults& f) { f.AlternateAnswers = true; },
     "Device not responding ($F2)"},
    {"no production answer", kiReadProduction, [](TKvxSimFaults& f) { f.NoAnswer = true; },
     "Device not responding ($FA)"},
    // Type twice, setup twice, then silence from the watch query on.
    {"stops answering during the download",
     {},
     [](TKvxSimFaults& f) { f.StopAfter = 4; },
     "Device not responding"},
};

void ExpectRecordOf(const TKVXrec& Rec, const TKvxSimState& State) {
  EXPECT_EQ(Rec.ModuleType, State.Model);
  EXPECT_EQ(Rec.Ident.TypeText, State.TypeText);
  EXPECT_EQ(Rec.Ident.UserData, Trim(State.UserData));
  EXPECT_EQ(Rec.Ident.Address, State.Address);
  EXPECT_EQ(Rec.Ident.Production.SerialNumber, State.SerialNumber);
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    EXPECT_EQ(Rec.Setup[ch], State.Channels[ch].Setup) << "channel " << ch;
    EXPECT_EQ(Rec.Watch[ch], State.Channels[ch].Watch) << "channel " << ch;
  }
}

class LineFaultTest : public ::testing::TestWithParam<TLine> {};

TEST_P(LineFaultTest, DownloadSurvivesOrFailsInTimeAndTheModuleIsUntouched) {
  const TKvxSimState state = KvxSimFactoryState(mtUSB, 321);
  const std::size_t threads = ThreadCount();
  for (const TLineFault& fault : kLineFaults) {
    SCOPED_TRACE(fault.Name);
    {
      TFaultRig rig(GetParam(), state);
      ASSERT_TRUE(rig.Channel->GetActive());
      TKvxSimFaults faults;
      faults.OnlyInstruction = fault.Instruction;
      fault.Set(faults);
      rig.Module->SetFaults(faults);
      TKVXChannelTransactor transactor(rig.Channel);
      TKVXrec rec;
      std::optional<std::string> error;
      const auto took = Timed([&] {
        try {
          EXPECT_TRUE(KvxDownloadParams(rec, transactor.Method()));
        } catch (const Exception& e) {
          error = e.what();
        }
      });
      if (fault.Failure && !(fault.MaySucceed && !error)) {
        EXPECT_EQ(error.value_or("no error"), fault.Failure);
      } else {
        EXPECT_FALSE(error) << *error;
        ExpectRecordOf(rec, state);
      }
      // A clean download takes about a second; a failed step adds at most its limit.
      EXPECT_LT(took, 3 * (kFailedStepLimit + 2s));
      EXPECT_EQ(SimConfigImage(rig.Module->State()), SimConfigImage(state));
    }
    EXPECT_EQ(ThreadCountSettlesAt(threads), threads);
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, LineFaultTest, ::testing::Values(TLine::Pty, TLine::Usb),
                         [](const auto& info) { return LineName(info.param); });

}  // namespace
