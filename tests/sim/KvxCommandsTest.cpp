#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "protocol/uKVXxxCommands.h"
#include "protocol/uTirmel97.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxPauseObserver.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

using ::testing::Each;
using ::testing::ElementsAre;

std::string Byte(int b) {
  return std::string(1, static_cast<char>(b));
}

// The record a download should make of a module in this state.
TKVXrec RecordOf(const TKvxSimState& s) {
  TKVXrec rec;
  rec.ModuleType = s.Model;
  rec.Ident.TypeText = s.TypeText;
  rec.Ident.UserData = Trim(s.UserData);
  rec.Ident.SpeedCode = s.SpeedCode;
  rec.Ident.Address = s.Address;
  rec.Ident.Production = {ProductionText(s.ProductNumber, s.SerialNumber), s.ProductNumber,
                          s.SerialNumber};
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    rec.Setup[ch] = s.Channels[ch].Setup;
    rec.Watch[ch] = s.Channels[ch].Watch;
  }
  return rec;
}

// Records every pause the command set takes.
class PauseLog {
 public:
  std::vector<int> pauses;
  std::function<void(std::size_t count)> onPause;

 private:
  TKVXPauseObserver FObserver{[this](int ms) {
    pauses.push_back(ms);
    if (onPause) onPause(pauses.size());
  }};
};

class CommandTest : public ::testing::Test {
 protected:
  void Start(const TKvxSimState& state, std::uint32_t baud) {
    sim_ = std::make_shared<TKvxSimModule>(state);
    channel_ = Create<TInProcessChannel>("SIM1", sim_, "baudrate=" + std::to_string(baud));
    ASSERT_TRUE(channel_->Open());
  }
  void Start(TKVXModuleType model) {
    const TKvxSimState state = KvxSimFactoryState(model, 42);
    Start(state, kSpeedCodes[state.SpeedCode]);
  }
  void SetFaults(std::optional<std::uint8_t> instruction, void (*set)(TKvxSimFaults&)) {
    TKvxSimFaults f;
    f.OnlyInstruction = instruction;
    set(f);
    sim_->SetFaults(f);
  }
  TKVXrec Download() {
    TKVXChannelTransactor transactor(channel_);
    TKVXrec rec;
    EXPECT_TRUE(KvxDownloadParams(rec, transactor.Method()));
    return rec;
  }
  // The download's error text, or "" when it succeeded.
  std::string DownloadError(TKVXrec& rec) {
    TKVXChannelTransactor transactor(channel_);
    try {
      KvxDownloadParams(rec, transactor.Method());
    } catch (const Exception& e) {
      return e.what();
    }
    return "";
  }

  std::shared_ptr<TKvxSimModule> sim_;
  TKVXChannel channel_;
};

TEST(KVXPauseObserver, TheLatestObserverHearsAndTheOneBeforeHearsAgainOnceItIsGone) {
  std::vector<int> outer;
  std::vector<int> inner;
  {
    const TKVXPauseObserver outerObserver([&](int ms) { outer.push_back(ms); });
    KVXPause(1);
    {
      const TKVXPauseObserver innerObserver([&](int ms) { inner.push_back(ms); });
      KVXPause(2);
    }
    KVXPause(3);
  }
  KVXPause(4);
  EXPECT_THAT(outer, ElementsAre(1, 3));
  EXPECT_THAT(inner, ElementsAre(2));
}

TEST_F(CommandTest, TransactAcceptsAnyValidFrame) {
  Start(mtUSB);
  PauseLog log;
  std::string reply = "stale";
  EXPECT_TRUE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  EXPECT_EQ(reply, "KVX DAZAZE USB v1.02");
  // A refusal is a valid frame too: the acknowledge code is not judged.
  EXPECT_TRUE(
      Transact(channel_, kiWriteLoopMode, Byte(2) + Byte(1), kUniversalAddress, 250, reply));
  EXPECT_EQ(reply, "");
  EXPECT_THAT(log.pauses, ElementsAre(kTransactPause, kTransactPause));
  EXPECT_THAT(sim_->Requests(),
              ElementsAre(TKvxSimRequest{254, kiReadType, ""},
                          TKvxSimRequest{254, kiWriteLoopMode, Byte(2) + Byte(1)}));
}

TEST_F(CommandTest, TransactFailures) {
  Start(mtUSB);
  std::string reply = "stale";
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.WrongChecksum = true; });
  EXPECT_FALSE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  EXPECT_EQ(reply, "");
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.NoiseBefore = "x"; });
  EXPECT_FALSE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.TruncateBy = 1; });
  EXPECT_FALSE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.ExtraDelay = std::chrono::milliseconds(450); });
  EXPECT_FALSE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  sim_->SetFaults({});
  channel_->Close(true);
  PauseLog log;
  EXPECT_FALSE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  EXPECT_FALSE(Transact({}, kiReadType, {}, kUniversalAddress, 250, reply));
  EXPECT_THAT(log.pauses, ElementsAre(kTransactPause, kTransactPause));
}

TEST_F(CommandTest, TransactWaitsForLateOrSplitReplies) {
  Start(mtUSB);
  std::string reply;
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.ExtraDelay = std::chrono::milliseconds(150); });
  EXPECT_TRUE(Transact(channel_, kiReadType, {}, kUniversalAddress, 500, reply));
  EXPECT_EQ(reply, sim_->State().TypeText);
  // Gaps well inside the 50 ms quiet time join into one reply.
  SetFaults(kiReadType, [](TKvxSimFaults& f) {
    f.Chunks = 3;
    f.ChunkGap = std::chrono::milliseconds(15);
  });
  EXPECT_TRUE(Transact(channel_, kiReadType, {}, kUniversalAddress, 250, reply));
  EXPECT_EQ(reply, sim_->State().TypeText);
}

TEST_F(CommandTest, CheckDeviceByTypeText) {
  Start(mtUSB);
  EXPECT_TRUE(CheckDevice(channel_));
  TKvxSimState state = sim_->State();
  for (const auto& [text, accepted] : std::map<std::string, bool>{{"kvx vivida eth", false},
                                                                  {"Kvx 2", false},
                                                                  {"xKVXy", true},
                                                                  {"Novra 4AI", true},
                                                                  {"NOVRA", true},
                                                                  {"NOVR", false}}) {
    state.TypeText = text;
    sim_->SetState(state);
    EXPECT_EQ(CheckDevice(channel_), accepted) << text;
  }
  EXPECT_EQ(sim_->Requests().back(), (TKvxSimRequest{254, kiReadType, ""}));
  SetFaults({}, [](TKvxSimFaults& f) { f.NoAnswer = true; });
  EXPECT_FALSE(CheckDevice(channel_));
}

TEST_F(CommandTest, DownloadEqualsTheModuleForEveryModel) {
  for (auto model : {mtUSB, mtETH, mtRS, mtNOVRA}) {
    SCOPED_TRACE(model);
    Start(model);
    TKVXrec rec;
    rec.Setup[3].Name = "left over";
    rec.Ident.SpeedCode = 11;
    PauseLog log;
    TKVXChannelTransactor transactor(channel_);
    ASSERT_TRUE(KvxDownloadParams(rec, transactor.Method()));
    EXPECT_EQ(rec, RecordOf(sim_->State()));
    // Seven steps asked twice each, everything to 254, one settling pause after the type.
    const auto requests = sim_->Requests();
    ASSERT_EQ(requests.size(), 14u);
    const std::uint8_t order[] = {kiReadType,      kiReadChannelSetup, kiReadChannelWatch,
                                  kiReadLoopModes, kiReadCommParams,   kiReadUserData,
                                  kiReadProduction};
    for (std::size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].Instruction, order[i / 2]) << i;
      EXPECT_EQ(requests[i].Address, kUniversalAddress);
    }
    EXPECT_EQ(requests[2].Data, Byte(0));
    std::vector<int> pauses(16, kTransactPause);
    pauses[2] = kSettlePause;
    pauses.pop_back();
    EXPECT_EQ(log.pauses, pauses);
  }
}

TEST_F(CommandTest, EachStepFailsWithItsOwnText) {
  const std::pair<std::uint8_t, const char*> steps[] = {
      {kiReadType, "Device not responding ($F3)"},
      {kiReadChannelSetup, "Device not responding"},
      {kiReadChannelWatch, "Device not responding"},
      {kiReadLoopModes, "Device not responding ($1B)"},
      {kiReadCommParams, "Device not responding ($F0)"},
      {kiReadUserData, "Device not responding ($F2)"},
      {kiReadProduction, "Device not responding ($FA)"},
  };
  Start(mtUSB);
  for (const auto& [instruction, text] : steps) {
    SetFaults(instruction, [](TKvxSimFaults& f) { f.WrongChecksum = true; });
    sim_->ClearRequests();
    TKVXrec rec;
    EXPECT_EQ(DownloadError(rec), text);
    // Five attempts, each ending at its failed first transaction.
    const auto requests = sim_->Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [&](const auto& r) { return r.Instruction == instruction; }),
              5);
    EXPECT_EQ(requests.back().Instruction, instruction);
  }
}

TEST_F(CommandTest, FailedDownloadKeepsStepsBefore) {
  Start(mtRS);
  SetFaults(kiReadCommParams, [](TKvxSimFaults& f) { f.WrongChecksum = true; });
  TKVXrec rec;
  rec.Ident.UserData = "kept";
  EXPECT_EQ(DownloadError(rec), "Device not responding ($F0)");
  const TKVXrec full = RecordOf(sim_->State());
  EXPECT_EQ(rec.Setup, full.Setup);
  EXPECT_EQ(rec.Watch, full.Watch);
  EXPECT_EQ(rec.Ident.TypeText, full.Ident.TypeText);
  EXPECT_EQ(rec.Ident.UserData, "kept");
}

TEST_F(CommandTest, AlternatingTypeNeverConfirmed) {
  Start(mtUSB);
  SetFaults(kiReadType, [](TKvxSimFaults& f) { f.AlternateAnswers = true; });
  TKVXrec rec;
  EXPECT_EQ(DownloadError(rec), "Device not responding ($F3)");
  EXPECT_EQ(sim_->Requests().size(), 10u);
  EXPECT_EQ(rec.ModuleType, mtUnknown);
}

TEST_F(CommandTest, EmptyUserDataFailsUnlessPadded) {
  Start(mtUSB);
  SetFaults({}, [](TKvxSimFaults& f) { f.EmptyUserData = true; });
  TKVXrec rec;
  EXPECT_EQ(DownloadError(rec), "Device not responding ($F2)");
  sim_->SetFaults({});
  TKvxSimState state = sim_->State();
  state.UserData = std::string(16, ' ');
  sim_->SetState(state);
  EXPECT_EQ(Download().Ident.UserData, "");
}

TEST_F(CommandTest, ClosedChannelFailsAfterFiveAttempts) {
  Start(mtUSB);
  channel_->Close(true);
  PauseLog log;
  TKVXrec rec;
  EXPECT_EQ(DownloadError(rec), "Device not responding ($F3)");
  EXPECT_THAT(log.pauses, ElementsAre(25, 25, 25, 25, 25));
  EXPECT_TRUE(sim_->Requests().empty());
  EXPECT_FALSE(KvxDownloadParams(rec, TKVXTransact{}));
}

TEST_F(CommandTest, UnknownStreamCodesAreReportedNotFatal) {
  Start(mtETH);
  SetFaults({}, [](TKvxSimFaults& f) { f.UnknownStreamCodes = true; });
  std::vector<std::string> messages;
  const TMessageHandler previous =
      SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
  const TKVXrec rec = Download();
  SetMessageHandler(previous);
  EXPECT_EQ(rec, RecordOf(sim_->State()));
  // One message per stream, though each is asked twice and holds an unknown code per channel.
  EXPECT_THAT(messages, ElementsAre("A Unknown param #5 (05), #5 (05), #5 (05) and 1 more",
                                    "B Unknown param #5 (05), #5 (05), #5 (05) and 1 more"));
}

TEST_F(CommandTest, AnExchangeWaitsNoLongerThanTheLongestReplyNeeds) {
  // A module whose setup stream holds every item of every channel.
  TKvxSimState state = KvxSimFactoryState(mtRS);
  for (int ch = 1; ch <= kChannelCount; ++ch) state.Channels[ch].Setup.GainPresent = true;
  Start(state, 9600);
  std::string setup;
  ASSERT_TRUE(Transact(channel_, kiReadChannelSetup, Byte(0), kUniversalAddress, 500, setup));
  EXPECT_EQ(setup.size(), LongestStreamSize());
  // A talker that keeps looking like a frame is waited for that long at most.
  auto& line = static_cast<TCommunicationInterface&>(*channel_);
  const TQueryTimeLimits limits = line.QueryTimeLimits(
      kDownloadTimeout, BuildFrame(kUniversalAddress, kRequestSignature, kiReadType, {}).size(),
      LongestReplySize());
  EXPECT_LE(limits.Whole, std::chrono::milliseconds(1100));
}

TEST_F(CommandTest, ParserErrorsPassThrough) {
  Start(mtUSB);
  TKvxSimState state = sim_->State();
  state.Channels[2].Setup.Channel = 7;  // the module names a channel that cannot be
  sim_->SetState(state);
  TKVXrec rec;
  EXPECT_THAT(DownloadError(rec), ::testing::HasSubstr("channel number 7"));
}

TEST_F(CommandTest, CommParamsSpeedCodeOffTheTable) {
  TKvxSimState state = KvxSimFactoryState(mtRS);
  state.Address = 5;
  state.SpeedCode = 12;
  Start(state, 0);  // the line speed is whatever the module runs at
  TKVXrec rec;
  rec.Ident.SpeedCode = 4;
  TKVXChannelTransactor transactor(channel_);
  ASSERT_TRUE(KvxDownloadParams(rec, transactor.Method()));
  EXPECT_EQ(rec.Ident.Address, 5);
  EXPECT_EQ(rec.Ident.SpeedCode, 4);
}

TEST_F(CommandTest, LoopModesFromOddBytes) {
  TKvxSimState state = KvxSimFactoryState(mtRS);
  const std::uint8_t loops[] = {1, 2, 0, 1};
  for (int ch = 1; ch <= 4; ++ch) state.Channels[ch].Setup.Loop = loops[ch - 1];
  Start(state, 9600);
  EXPECT_EQ(SimLoopModes(state),
            Byte(1) + Byte(1) + Byte(2) + Byte(2) + Byte(3) + Byte(0) + Byte(4) + Byte(1));
  const TKVXrec rec = Download();
  for (int ch = 1; ch <= 4; ++ch) EXPECT_EQ(rec.Setup[ch].Loop, loops[ch - 1]) << ch;
}

// Replies from a table, for the reply shapes a simulated module never produces.
class CannedModule {
 public:
  bool Transact(std::uint8_t instruction, const std::string&, std::uint8_t, std::int32_t,
                std::string& reply) {
    asked.push_back(instruction);
    const auto it = replies.find(instruction);
    if (it == replies.end()) return false;
    reply = it->second;
    return true;
  }
  TKVXTransact Method() { return Bind<&CannedModule::Transact>(this); }

  std::map<std::uint8_t, std::string> replies = {
      {kiReadType, "  KVX VIROD RS485 v1.31\r\n"},
      {kiReadChannelSetup, Byte(1) + Byte(1) + Byte(0x20) + Byte(2)},
      {kiReadChannelWatch, Byte(1) + Byte(4)},
      {kiReadLoopModes, std::string("\x01\x01\x02\x02\x03\x00\x04\x01tail", 12)},
      {kiReadCommParams, Byte(5) + Byte(0x0C)},
      {kiReadUserData, " Data \t"},
      {kiReadProduction, Byte(0x04) + Byte(0xD2) + Byte(0) + Byte(9) + Byte(0xFF)},
  };
  std::vector<std::uint8_t> asked;
};

TEST(DownloadReplies, DecodedAsTheyCome) {
  CannedModule module;
  TKVXrec rec;
  rec.Ident.SpeedCode = 7;
  rec.Setup[2].Unit = "gone";
  ASSERT_TRUE(KvxDownloadParams(rec, module.Method()));
  EXPECT_EQ(rec.Ident.TypeText, "KVX VIROD RS485 v1.31");
  EXPECT_EQ(rec.ModuleType, mtRS);
  EXPECT_EQ(rec.Setup[1].Channel, 1);
  TChannelSetup unreported;  // cleared; only its Loop comes from the loop modes
  unreported.Loop = 2;
  EXPECT_EQ(rec.Setup[2], unreported);
  EXPECT_EQ(rec.Watch[4].Channel, 4);
  // Loop of the setup stream (2) is overridden by the loop modes.
  EXPECT_EQ(rec.Setup[1].Loop, 1);
  EXPECT_EQ(rec.Setup[2].Loop, 2);
  EXPECT_EQ(rec.Setup[3].Loop, 0);
  EXPECT_EQ(rec.Setup[4].Loop, 1);
  EXPECT_EQ(rec.Ident.Address, 5);
  EXPECT_EQ(rec.Ident.SpeedCode, 7);
  EXPECT_EQ(rec.Ident.UserData, "Data");
  EXPECT_EQ(rec.Ident.Production.Text, "1234.xx.xx/0009");
}

TEST(DownloadReplies, ShortRepliesAreRefused) {
  CannedModule module;
  module.replies[kiReadLoopModes] = std::string(7, '\x01');
  TKVXrec rec;
  EXPECT_THROW(
      {
        try {
          KvxDownloadParams(rec, module.Method());
        } catch (const Exception& e) {
          EXPECT_STREQ(e.what(), "Device not responding ($1B)");
          throw;
        }
      },
      Exception);
  module.replies[kiReadLoopModes] = std::string(8, '\x01');
  module.replies[kiReadCommParams] = Byte(5) + Byte(1) + Byte(0);
  EXPECT_THROW(KvxDownloadParams(rec, module.Method()), Exception);
  EXPECT_EQ(rec.Ident.Address, 0);
}

TEST(DownloadReplies, ShortProductionReply) {
  CannedModule module;
  module.replies[kiReadProduction] = Byte(0x01) + Byte(0x02) + Byte(0x03);
  TKVXrec rec;
  ASSERT_TRUE(KvxDownloadParams(rec, module.Method()));
  EXPECT_EQ(rec.Ident.Production.ProductNumber, 0x0102);
  EXPECT_EQ(rec.Ident.Production.SerialNumber, 3);
  module.replies[kiReadProduction] = Byte(0x07);
  ASSERT_TRUE(KvxDownloadParams(rec, module.Method()));
  EXPECT_EQ(rec.Ident.Production.ProductNumber, 7);
  EXPECT_EQ(rec.Ident.Production.SerialNumber, 0);
  EXPECT_EQ(rec.Ident.Production.Text, "0007.xx.xx/0000");
}

TEST_F(CommandTest, ReadMeasurementsRetriesThreeTimes) {
  Start(mtUSB);
  EXPECT_EQ(ReadMeasurements(channel_).size(), 72u);
  EXPECT_EQ(sim_->Requests().back(), (TKvxSimRequest{254, kiReadMeasuredValues, Byte(0)}));

  SetFaults(kiReadMeasuredValues, [](TKvxSimFaults& f) { f.WrongChecksum = true; });
  sim_->ClearRequests();
  EXPECT_EQ(ReadMeasurements(channel_), "");
  EXPECT_EQ(sim_->Requests().size(), 3u);

  // The module recovers just before the third attempt.
  PauseLog log;
  log.onPause = [&](std::size_t count) {
    if (count == 3) sim_->SetFaults({});
  };
  sim_->ClearRequests();
  EXPECT_EQ(ReadMeasurements(channel_).size(), 72u);
  EXPECT_EQ(sim_->Requests().size(), 3u);
}

class UploadTest : public CommandTest {
 protected:
  void SetUp() override {
    Start(mtRS);
    read_ = Download();
    sim_->ClearRequests();
  }
  TKVXrec read_;
};

TEST_F(UploadTest, OnlyChannelTwoUnit) {
  TKVXrec edited = read_;
  edited.Setup[2].Unit = PadRight("mV", 5);
  PauseLog log;
  UploadChanges(channel_, read_, edited);
  const std::uint8_t a = read_.Ident.Address;
  EXPECT_THAT(sim_->Requests(),
              ElementsAre(TKvxSimRequest{254, kiReadChannelName, Byte(1)},
                          TKvxSimRequest{254, kiReadChannelName, Byte(2)},
                          TKvxSimRequest{a, kiEnableConfig, ""},
                          TKvxSimRequest{a, kiWriteChannelSetup, "\x01\x02\x13mV   "},
                          TKvxSimRequest{254, kiReadChannelName, Byte(3)},
                          TKvxSimRequest{254, kiReadChannelName, Byte(4)}));
  EXPECT_THAT(log.pauses, ElementsAre(25, 25, 25, 25, 25, 25, 100));
  EXPECT_EQ(sim_->State().Channels[2].Setup.Unit, "mV   ");
}

TEST_F(UploadTest, NothingChangedOnlyReadsNames) {
  UploadChanges(channel_, read_, read_);
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& r : requests) EXPECT_EQ(r.Instruction, kiReadChannelName);
}

TEST_F(UploadTest, CommParamsLastSoEveryWriteReachesTheOldAddress) {
  TKVXrec edited = read_;
  edited.Ident.Address = 9;
  edited.Setup[1].Decimals = 2;
  UploadChanges(channel_, read_, edited);
  const std::uint8_t a = read_.Ident.Address;
  const auto requests = sim_->Requests();
  ASSERT_EQ(requests.size(), 8u);
  EXPECT_EQ(requests[0], (TKvxSimRequest{254, kiReadChannelName, Byte(1)}));
  EXPECT_EQ(requests[1], (TKvxSimRequest{a, kiEnableConfig, ""}));
  EXPECT_EQ(requests[2], (TKvxSimRequest{a, kiWriteChannelSetup, "\x01\x01\x15\x02"}));
  EXPECT_EQ(requests[6], (TKvxSimRequest{a, kiEnableConfig, ""}));
  EXPECT_EQ(requests[7], (TKvxSimRequest{a, kiWriteCommParams, Byte(9) + Byte(6)}));
  // Both edits arrived: the channel write went out while the module still listened at a.
  EXPECT_EQ(sim_->State().Address, 9);
  EXPECT_EQ(sim_->State().Channels[1].Setup.Decimals, 2);
}

TEST_F(UploadTest, SpeedWrittenOnlyForRsModel) {
  TKVXrec edited = read_;
  edited.Ident.SpeedCode = 7;
  UploadChanges(channel_, read_, edited);
  EXPECT_EQ(sim_->Requests().back(), (TKvxSimRequest{1, kiWriteCommParams, Byte(1) + Byte(7)}));
  EXPECT_EQ(sim_->State().SpeedCode, 7);

  sim_->ClearRequests();
  TKVXrec usb = read_;
  usb.ModuleType = mtUSB;
  TKVXrec usbEdited = usb;
  usbEdited.Ident.SpeedCode = 8;
  UploadChanges(channel_, usb, usbEdited);
  EXPECT_THAT(sim_->Requests(),
              Each(::testing::Field(&TKvxSimRequest::Instruction, kiReadChannelName)));
}

TEST_F(UploadTest, UserDataAndNameAndWatch) {
  TKVXrec edited = read_;
  edited.Ident.UserData = "  Sklad 7 ";
  edited.Setup[3].Name = PadRight("Kotel", 21);
  edited.Setup[4].Loop = 1;
  edited.Watch[4].Flags = 0x01;  // watching off, other bit kept
  UploadChanges(channel_, read_, edited);
  const std::uint8_t a = read_.Ident.Address;
  const auto requests = sim_->Requests();
  const std::vector<TKvxSimRequest> writes = [&] {
    std::vector<TKvxSimRequest> w;
    for (const auto& r : requests)
      if (r.Instruction != kiReadChannelName && r.Instruction != kiEnableConfig) w.push_back(r);
    return w;
  }();
  EXPECT_THAT(writes,
              ElementsAre(TKvxSimRequest{a, kiWriteUserData, Byte(0) + PadRight("Sklad 7", 16)},
                          TKvxSimRequest{a, kiWriteChannelName, Byte(3) + PadRight("Kotel", 21)},
                          TKvxSimRequest{a, kiWriteLoopMode, Byte(4) + Byte(1)},
                          TKvxSimRequest{a, kiWriteChannelWatch, "\x01\x04\x12\x01"}));
  EXPECT_EQ(requests.size(), 4u + 2 * writes.size());
  const TKVXrec after = Download();
  TKVXrec expected = edited;
  expected.Ident.UserData = "Sklad 7";
  EXPECT_EQ(after, expected);
}

TEST_F(UploadTest, NameNotWrittenWhenItsReadFails) {
  TKVXrec edited = read_;
  edited.Setup[1].Name = PadRight("Jiny", 21);
  SetFaults(kiReadChannelName, [](TKvxSimFaults& f) { f.WrongChecksum = true; });
  UploadChanges(channel_, read_, edited);
  for (const auto& r : sim_->Requests()) EXPECT_NE(r.Instruction, kiWriteChannelName);
  // The comparison is with what the module holds, not with the read copy.
  sim_->SetFaults({});
  sim_->ClearRequests();
  TKVXrec stale = read_;
  stale.Setup[1].Name = PadRight("Jiny", 21);
  UploadChanges(channel_, stale, edited);
  EXPECT_EQ(sim_->State().Channels[1].Setup.Name, PadRight("Jiny", 21));
}

}  // namespace
