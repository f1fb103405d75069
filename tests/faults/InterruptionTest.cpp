// A module that falls silent, or a line pulled out, in the middle of a download, an upload
// and of measuring, over the pseudo-terminal and over the fake USB adapter. Each operation
// ends within its time limits; the module holds either its old configuration or the edits
// the upload had sent by then, never anything else; no thread is left behind.
#include <gtest/gtest.h>

#include <set>

#include "sim/uKvxTransactor.h"
#include "sim/uScriptedPeer.h"
#include "support/uErrors.h"
#include "tests/faults/FaultRig.h"

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kUploadStep{kTransactPause + kUploadTimeout};
constexpr std::chrono::milliseconds kMeasureLimit{3 * (kTransactPause + kMeasureTimeout)};

enum class TCut { Silence, Pull };

struct TInterruption {
  TLine Line;
  TCut Cut;
};

std::string InterruptionName(const ::testing::TestParamInfo<TInterruption>& Info) {
  return LineName(Info.param.Line) + (Info.param.Cut == TCut::Silence ? "Silence" : "Pull");
}

class InterruptionTest : public ::testing::TestWithParam<TInterruption> {
 protected:
  const TKvxSimState State = KvxSimFactoryState(mtUSB, 77);
  const std::size_t Threads = ThreadCount();

  void TearDown() override { EXPECT_EQ(ThreadCountSettlesAt(Threads), Threads); }

  // Cuts the line once the module has heard Requests more frames.
  void CutAfter(TFaultRig& Rig, int Requests) {
    if (GetParam().Cut == TCut::Pull) {
      Rig.PullAfter(static_cast<std::size_t>(Requests));
    } else {
      TKvxSimFaults faults;
      faults.StopAfter = Requests;
      Rig.Module->SetFaults(faults);
    }
  }

  TKVXrec Download(TFaultRig& Rig) {
    TKVXChannelTransactor transactor(Rig.Channel);
    TKVXrec rec;
    EXPECT_TRUE(KvxDownloadParams(rec, transactor.Method()));
    return rec;
  }
};

TEST_P(InterruptionTest, DownloadEndsWithTheStepsErrorInTime) {
  // Type twice, setup twice, watch twice, then nothing.
  for (int heard : {0, 3, 6}) {
    SCOPED_TRACE(heard);
    TFaultRig rig(GetParam().Line, State);
    ASSERT_TRUE(rig.Channel->GetActive());
    CutAfter(rig, heard);
    TKVXChannelTransactor transactor(rig.Channel);
    TKVXrec rec;
    std::string error = "no error";
    const auto took = Timed([&] {
      try {
        KvxDownloadParams(rec, transactor.Method());
      } catch (const Exception& e) {
        error = e.what();
      }
    });
    EXPECT_EQ(error.rfind("Device not responding", 0), 0u) << error;
    EXPECT_LT(took, 3 * (kFailedStepLimit + 2s));
    rig.JoinPuller();
    EXPECT_EQ(SimConfigImage(rig.Module->State()), SimConfigImage(State));
  }
}

TEST_P(InterruptionTest, UploadEndsInTimeAndWritesOnlyTheEdits) {
  // The images the module may hold afterwards: untouched, the first edit (user data, sent
  // first), or both edits (a channel name as well).
  std::set<std::string> allowed = {SimConfigImage(State)};
  TKVXrec read, edited;
  {
    TFaultRig twin(GetParam().Line, State);
    read = Download(twin);
    edited = read;
    edited.Ident.UserData = "edited by test";
    UploadChanges(twin.Channel, read, edited);
    allowed.insert(SimConfigImage(twin.Module->State()));
    edited.Setup[3].Name = "Renamed channel";
    twin.Module->ClearRequests();
    UploadChanges(twin.Channel, read, edited);
    allowed.insert(SimConfigImage(twin.Module->State()));
  }
  ASSERT_EQ(allowed.size(), 3u) << "both edits reach a module that answers";
  // Enable + write, then three name reads, enable + write of the name, and a margin.
  const auto limit = 3 * (12 * kUploadStep + std::chrono::milliseconds(kSettlePause));
  for (int heard : {0, 1, 2, 4, 5}) {
    SCOPED_TRACE(heard);
    TFaultRig rig(GetParam().Line, State);
    ASSERT_TRUE(rig.Channel->GetActive());
    CutAfter(rig, heard);
    EXPECT_LT(Timed([&] { UploadChanges(rig.Channel, read, edited); }), limit);
    rig.JoinPuller();
    EXPECT_EQ(allowed.count(SimConfigImage(rig.Module->State())), 1u);
  }
}

TEST_P(InterruptionTest, MeasuringGivesAllFourValuesOrNothingInTime) {
  TFaultRig rig(GetParam().Line, State);
  ASSERT_TRUE(rig.Channel->GetActive());
  ASSERT_EQ(ReadMeasurements(rig.Channel).size(), 4 * kMeasuredBlockSize);
  CutAfter(rig, 3);
  int values = 0;
  for (int poll = 0; poll < 6; ++poll) {
    std::string reply;
    EXPECT_LT(Timed([&] { reply = ReadMeasurements(rig.Channel); }), 3 * kMeasureLimit);
    EXPECT_TRUE(reply.empty() || reply.size() == 4 * kMeasuredBlockSize) << reply.size();
    if (!reply.empty()) ++values;
  }
  // A poll is one request when the module answers; the cut comes after the third.
  EXPECT_LE(values, 3);
  rig.JoinPuller();
  EXPECT_EQ(SimConfigImage(rig.Module->State()), SimConfigImage(State));
}

INSTANTIATE_TEST_SUITE_P(Lines, InterruptionTest,
                         ::testing::Values(TInterruption{TLine::Pty, TCut::Silence},
                                           TInterruption{TLine::Pty, TCut::Pull},
                                           TInterruption{TLine::Usb, TCut::Silence},
                                           TInterruption{TLine::Usb, TCut::Pull}),
                         InterruptionName);

}  // namespace
