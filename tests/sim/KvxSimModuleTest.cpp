#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "protocol/uKVXInstructions.h"
#include "protocol/uKVXxx.h"
#include "protocol/uTirmel97.h"
#include "sim/uKvxSimModule.h"
#include "support/uConversionUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using Clock = ISimPeer::Clock;

// Drives a module on virtual time: each exchange writes at `now_` and reads one second later.
class SimModuleTest : public ::testing::Test {
 protected:
  SimModuleTest() : sim_(KvxSimFactoryState(mtRS, 77)) {}

  std::uint32_t Baud() const { return kSpeedCodes[sim_.State().SpeedCode]; }

  // The raw bytes the module sends back, everything it releases within a second.
  std::string RawExchange(std::uint8_t instruction, const std::string& data = {},
                          std::uint8_t address = kUniversalAddress, std::uint32_t baud = 0) {
    sim_.Write(BuildFrame(address, kRequestSignature, instruction, data), baud ? baud : Baud(),
               now_);
    now_ += 1s;
    return sim_.Read(now_);
  }

  // The reply frame; fails the test when the module sent no valid frame.
  TTirmelFormat97 Exchange(std::uint8_t instruction, const std::string& data = {},
                           std::uint8_t address = kUniversalAddress, std::uint32_t baud = 0) {
    const std::string raw = RawExchange(instruction, data, address, baud);
    TTirmelFormat97 frame;
    EXPECT_EQ(ValidateFrame(raw), 0) << "instruction " << int(instruction);
    if (ValidateFrame(raw) == 0) ParseFrame(raw, frame);
    return frame;
  }

  std::uint8_t Write(std::uint8_t instruction, const std::string& data) {
    Exchange(kiEnableConfig);
    return Exchange(instruction, data).Instruction;
  }

  TKvxSimModule sim_;
  Clock::time_point now_ = Clock::now();
};

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

TEST_F(SimModuleTest, IdentityReads) {
  const TKvxSimState state = sim_.State();
  const TTirmelFormat97 type = Exchange(kiReadType);
  EXPECT_EQ(type.Data, "KVX VIROD RS485 v1.31");
  EXPECT_EQ(type.Instruction, kSimAck);
  EXPECT_EQ(type.Address, state.Address);
  EXPECT_EQ(ModuleTypeFromText(type.Data), mtRS);
  EXPECT_EQ(Exchange(kiReadCommParams).Data, Bytes({state.Address, 6}));
  EXPECT_EQ(Exchange(kiReadUserData).Data, "Hala 3, linka B ");
  EXPECT_EQ(Exchange(kiReadProduction).Data, Bytes({1023 >> 8, 1023 & 0xFF, 0, 77}));
  EXPECT_EQ(Exchange(kiReadChannelName, "\x02").Data, PadRight("Tlak", 21));
  EXPECT_EQ(Exchange(kiReadChannelName, "\x05").Instruction, kSimRefused);
  EXPECT_EQ(Exchange(0x77).Instruction, kSimRefused);
}

TEST_F(SimModuleTest, EveryModelIsRecognisedByItsTypeText) {
  for (auto model : {mtUSB, mtETH, mtRS, mtNOVRA}) {
    const TKvxSimState state = KvxSimFactoryState(model);
    EXPECT_EQ(ModuleTypeFromText(state.TypeText), model) << state.TypeText;
    EXPECT_EQ(state.Model, model);
    EXPECT_EQ(state.UserData.size(), kUserDataWidth);
  }
  EXPECT_NE(KvxSimFactoryState(mtUSB, 1), KvxSimFactoryState(mtUSB, 2));
}

TEST_F(SimModuleTest, StreamsDecodeToTheState) {
  const TKvxSimState state = sim_.State();
  TKVXrec rec;
  ParseSetupStream(rec, Exchange(kiReadChannelSetup, std::string(1, '\0')).Data);
  ParseWatchStream(rec, Exchange(kiReadChannelWatch, std::string(1, '\0')).Data);
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    EXPECT_EQ(rec.Setup[ch], state.Channels[ch].Setup) << ch;
    EXPECT_EQ(rec.Watch[ch], state.Channels[ch].Watch) << ch;
  }
  EXPECT_TRUE(rec.Setup[3].GainPresent);  // the RS model has amplifiers on 3 and 4
  EXPECT_FALSE(rec.Setup[1].GainPresent);
}

TEST_F(SimModuleTest, LoopModesAtOddBytes) {
  EXPECT_EQ(Exchange(kiReadLoopModes).Data, Bytes({1, 0, 2, 1, 3, 0, 4, 2}));
}

TEST_F(SimModuleTest, MeasuredValuesFollowRangeAndDecimals) {
  std::vector<double> first;
  for (int round = 0; round < 2; ++round) {
    const std::string data = Exchange(kiReadMeasuredValues, std::string(1, '\0')).Data;
    ASSERT_EQ(data.size(), 4 * kMeasuredBlockSize);
    const TKvxSimState state = sim_.State();
    for (int ch = 1; ch <= kChannelCount; ++ch) {
      TKVXChannelRecountedValue v;
      DecodeMeasuredValue(std::string_view(data).substr((ch - 1) * 18, 18), v);
      const TChannelSetup& s = state.Channels[ch].Setup;
      const TRange range = ScaleToRange(s.Offset, s.Scale, 10000);
      EXPECT_EQ(v.Channel, ch);
      EXPECT_TRUE(v.Valid);
      EXPECT_FALSE(v.Overflow);
      EXPECT_GE(v.Value, range.Min);
      EXPECT_LE(v.Value, range.Max);
      EXPECT_EQ(v.Text, Format("%10.*f", s.Decimals, v.Value));
      if (round == 0)
        first.push_back(v.Value);
      else
        EXPECT_NE(v.Value, first[ch - 1]) << "channel " << ch << " did not move";
    }
    now_ += 4s;
  }
}

TEST_F(SimModuleTest, OverflowAndNotValid) {
  TKvxSimState state = sim_.State();
  state.Channels[2].Overflow = true;
  state.Channels[4].NotValid = true;
  sim_.SetState(state);
  const std::string data = Exchange(kiReadMeasuredValues, std::string(1, '\0')).Data;
  TKVXChannelRecountedValue v;
  DecodeMeasuredValue(data.substr(18, 18), v);
  EXPECT_TRUE(v.Valid);
  EXPECT_TRUE(v.Overflow);
  DecodeMeasuredValue(data.substr(54, 18), v);
  EXPECT_FALSE(v.Valid);
  DecodeMeasuredValue(data.substr(0, 18), v);
  EXPECT_TRUE(v.Valid);
  EXPECT_FALSE(v.Overflow);
}

TEST_F(SimModuleTest, WritesNeedEnableConfigImmediatelyBefore) {
  const TKvxSimState before = sim_.State();
  const std::string name = Bytes({3}) + PadRight("Novy", 21);
  EXPECT_EQ(Exchange(kiWriteChannelName, name).Instruction, kSimRefused);
  EXPECT_EQ(sim_.State(), before);
  Exchange(kiEnableConfig);
  Exchange(kiReadType);  // any request in between closes the guard again
  EXPECT_EQ(Exchange(kiWriteChannelName, name).Instruction, kSimRefused);
  EXPECT_EQ(sim_.State(), before);
  EXPECT_EQ(Write(kiWriteChannelName, name), kSimAck);
  EXPECT_EQ(sim_.State().Channels[3].Setup.Name, PadRight("Novy", 21));
  EXPECT_EQ(Exchange(kiWriteChannelName, name).Instruction, kSimRefused);  // one write only
}

TEST_F(SimModuleTest, EachWriteChangesOnlyItsField) {
  TKvxSimState expected = sim_.State();
  EXPECT_EQ(Write(kiWriteUserData, '\0' + PadRight("Sklad", 16)), kSimAck);
  expected.UserData = PadRight("Sklad", 16);
  EXPECT_EQ(Write(kiWriteLoopMode, Bytes({2, 2})), kSimAck);
  expected.Channels[2].Setup.Loop = 2;
  EXPECT_EQ(Write(kiWriteChannelSetup, Bytes({1, 2, 0x13, 'm', 'V', ' ', ' ', ' '})), kSimAck);
  expected.Channels[2].Setup.Unit = "mV   ";
  EXPECT_EQ(Write(kiWriteChannelWatch, Bytes({1, 4, 0x12, 0x01}) + '\x17' + FloatToStrBin(2.5f)),
            kSimAck);
  expected.Channels[4].Watch.Flags = 0x01;
  expected.Channels[4].Watch.Hysteresis = 2.5f;
  EXPECT_EQ(SimConfigImage(sim_.State()), SimConfigImage(expected));
  EXPECT_EQ(sim_.State(), expected);
}

TEST_F(SimModuleTest, MalformedWritesRefusedWithoutChange) {
  const TKvxSimState before = sim_.State();
  EXPECT_EQ(Write(kiWriteChannelSetup, Bytes({1, 2, 0x15, 1, 1, 9, 0x15, 2})), kSimRefused);
  EXPECT_EQ(Write(kiWriteChannelSetup, Bytes({0x15, 1})), kSimRefused);
  EXPECT_EQ(Write(kiWriteChannelWatch, Bytes({1, 1, 0x13, 0, 0})), kSimRefused);
  EXPECT_EQ(Write(kiWriteUserData, "short"), kSimRefused);
  EXPECT_EQ(Write(kiWriteChannelName, Bytes({0}) + PadRight("x", 21)), kSimRefused);
  EXPECT_EQ(Write(kiWriteCommParams, Bytes({254, 6})), kSimRefused);
  EXPECT_EQ(Write(kiWriteCommParams, Bytes({5, 12})), kSimRefused);
  EXPECT_EQ(Write(kiWriteLoopMode, Bytes({1, 1})), kSimRefused);  // channel 1 has no 4-20 mA
  EXPECT_EQ(Write(kiWriteLoopMode, Bytes({2, 3})), kSimRefused);
  EXPECT_EQ(sim_.State(), before);
}

TEST_F(SimModuleTest, GainOnlyWhereThereIsAnAmplifier) {
  TKvxSimState expected = sim_.State();
  EXPECT_EQ(Write(kiWriteChannelSetup, Bytes({1, 1, 0x1A, 5, 1, 3, 0x1A, 6})), kSimAck);
  expected.Channels[3].Setup.GainIndex = 6;
  EXPECT_EQ(sim_.State(), expected);
  // A setup write selects the channel with 0x01, which must not take its gain away.
  EXPECT_EQ(Write(kiWriteChannelSetup, Bytes({1, 3, 0x15, 0})), kSimAck);
  EXPECT_TRUE(sim_.State().Channels[3].Setup.GainPresent);
}

TEST_F(SimModuleTest, CommParamsMoveAddressAndSpeed) {
  const std::uint8_t old = sim_.State().Address;
  EXPECT_EQ(Exchange(kiReadType, {}, old).Instruction, kSimAck);
  EXPECT_EQ(RawExchange(kiReadType, {}, 9), "");  // another module's address
  EXPECT_EQ(Write(kiWriteCommParams, Bytes({9, 10})), kSimAck);
  EXPECT_EQ(RawExchange(kiReadType, {}, old, 115200), "");
  EXPECT_EQ(Exchange(kiReadType, {}, 9, 115200).Address, 9);
  EXPECT_EQ(Exchange(kiReadType, {}, kUniversalAddress, 115200).Address, 9);
  EXPECT_EQ(RawExchange(kiReadType, {}, 9, 9600), "");  // the old speed no longer works
}

TEST_F(SimModuleTest, AnswersOnlyAtItsSpeed) {
  EXPECT_EQ(RawExchange(kiReadType, {}, kUniversalAddress, 115200), "");
  EXPECT_EQ(RawExchange(kiReadType, {}, kUniversalAddress, 19200), "");
  // A transport that does not know its speed always gets through.
  sim_.Write(BuildFrame(kUniversalAddress, 1, kiReadType, ""), 0, now_);
  EXPECT_EQ(ValidateFrame(sim_.Read(now_ + 1s)), 0);
}

TEST_F(SimModuleTest, RequestSplitOrBehindNoise) {
  const std::string request = BuildFrame(kUniversalAddress, 1, kiReadCommParams, "");
  sim_.Write("\x00\x13*b" + request.substr(0, 5), 9600, now_);
  EXPECT_FALSE(sim_.NextDue());
  sim_.Write(request.substr(5), 9600, now_ + 5ms);
  EXPECT_EQ(ValidateFrame(sim_.Read(now_ + 1s)), 0);
  // A request with a bad checksum is not answered, but the next one is.
  std::string bad = request;
  bad[bad.size() - 2] ^= 1;
  sim_.Write(bad + request, 9600, now_ + 2s);
  EXPECT_EQ(sim_.Read(now_ + 3s).size(), 11u);
  EXPECT_EQ(sim_.Requests().size(), 2u);
}

TEST_F(SimModuleTest, RequestsAreRecordedWhateverTheAddress) {
  RawExchange(kiReadChannelName, "\x01", 200);
  Exchange(kiEnableConfig, {}, 1);
  EXPECT_THAT(sim_.Requests(), ElementsAre(TKvxSimRequest{200, kiReadChannelName, "\x01"},
                                           TKvxSimRequest{1, kiEnableConfig, ""}));
  sim_.ClearRequests();
  EXPECT_TRUE(sim_.Requests().empty());
}

TEST_F(SimModuleTest, ReplyBytesDueAtLineSpeed) {
  sim_.SetTurnaround(2ms);
  const std::string request = BuildFrame(kUniversalAddress, 1, kiReadCommParams, "");
  const auto byteTime = std::chrono::duration<double>(10.0 / 9600);
  const auto at = [&](double bytes) {
    return now_ + std::chrono::duration_cast<Clock::duration>(byteTime * bytes);
  };
  sim_.Write(request, 9600, now_);
  // Arrival after 9 bytes, then the turnaround, then each of the 11 reply bytes.
  const Clock::time_point first = at(9 + 1) + 2ms;
  ASSERT_TRUE(sim_.NextDue());
  EXPECT_LE(std::chrono::abs(*sim_.NextDue() - first), 1us);
  EXPECT_EQ(sim_.Available(first - 10us), 0u);
  EXPECT_EQ(sim_.Available(first + 10us), 1u);
  EXPECT_EQ(sim_.Available(at(9 + 6) + 2ms + 10us), 6u);
  EXPECT_EQ(sim_.Read(at(9 + 11) + 2ms - 10us).size(), 10u);
  EXPECT_EQ(sim_.Read(at(9 + 11) + 2ms + 10us).size(), 1u);
  EXPECT_FALSE(sim_.NextDue());
}

class SimFaultTest : public SimModuleTest {
 protected:
  void SetFault(void (*set)(TKvxSimFaults&)) {
    TKvxSimFaults f;
    set(f);
    sim_.SetFaults(f);
  }
};

TEST_F(SimFaultTest, NoAnswerOnlyForTheChosenInstruction) {
  SetFault([](TKvxSimFaults& f) {
    f.NoAnswer = true;
    f.OnlyInstruction = kiReadLoopModes;
  });
  EXPECT_EQ(RawExchange(kiReadLoopModes), "");
  EXPECT_EQ(Exchange(kiReadType).Data, sim_.State().TypeText);
  SetFault([](TKvxSimFaults& f) { f.NoAnswer = true; });
  EXPECT_EQ(RawExchange(kiReadType), "");
  // Not heard at all: an EnableConfig that got no answer does not open the guard.
  sim_.Write(BuildFrame(kUniversalAddress, 1, kiEnableConfig, ""), 9600, now_);
  sim_.SetFaults({});
  EXPECT_EQ(Exchange(kiWriteLoopMode, Bytes({2, 2})).Instruction, kSimRefused);
}

TEST_F(SimFaultTest, DelayAndChunks) {
  const std::string request = BuildFrame(kUniversalAddress, 1, kiReadType, "");
  sim_.Write(request, 9600, now_);
  const Clock::time_point normal = *sim_.NextDue();
  sim_.Read(now_ + 1s);
  SetFault([](TKvxSimFaults& f) {
    f.ExtraDelay = 40ms;
    f.Chunks = 3;
    f.ChunkGap = 30ms;
  });
  now_ += 1s;
  sim_.Write(request, 9600, now_);
  EXPECT_LE(std::chrono::abs(*sim_.NextDue() - (normal + 1s + 40ms)), 1us);
  // Read as a poller would, every millisecond: three bursts separated by ~30 ms of silence.
  std::vector<std::string> bursts;
  Clock::time_point lastData = now_;
  for (Clock::time_point t = now_; t < now_ + 1s; t += 1ms) {
    const std::string got = sim_.Read(t);
    if (got.empty()) continue;
    if (bursts.empty() || t - lastData > 20ms) bursts.emplace_back();
    bursts.back() += got;
    lastData = t;
  }
  ASSERT_EQ(bursts.size(), 3u);
  EXPECT_EQ(ValidateFrame(bursts[0] + bursts[1] + bursts[2]), 0);
}

TEST_F(SimFaultTest, NoiseChecksumTruncation) {
  SetFault([](TKvxSimFaults& f) {
    f.NoiseBefore = std::string("\x00\xFF", 2);
    f.NoiseAfter = "zz";
  });
  std::string raw = RawExchange(kiReadType);
  ASSERT_EQ(raw.size(), 4 + 9 + sim_.State().TypeText.size());
  EXPECT_EQ(raw.substr(0, 2), std::string("\x00\xFF", 2));
  EXPECT_EQ(raw.substr(raw.size() - 2), "zz");
  EXPECT_EQ(ValidateFrame(raw.substr(2, raw.size() - 4)), 0);
  SetFault([](TKvxSimFaults& f) { f.WrongChecksum = true; });
  EXPECT_EQ(ValidateFrame(RawExchange(kiReadType)), 5);
  SetFault([](TKvxSimFaults& f) { f.TruncateBy = 3; });
  raw = RawExchange(kiReadType);
  EXPECT_EQ(raw.size(), 9 + sim_.State().TypeText.size() - 3);
  EXPECT_EQ(ValidateFrame(raw), 4);
}

TEST_F(SimFaultTest, AlternatingAnswers) {
  SetFault([](TKvxSimFaults& f) { f.AlternateAnswers = true; });
  const std::string a = Exchange(kiReadType).Data;
  const std::string b = Exchange(kiReadType).Data;
  EXPECT_EQ(a, sim_.State().TypeText);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.size(), b.size());
  EXPECT_EQ(Exchange(kiReadType).Data, a);
}

TEST_F(SimFaultTest, EmptyUserDataAndUnknownCodes) {
  SetFault([](TKvxSimFaults& f) {
    f.EmptyUserData = true;
    f.UnknownStreamCodes = true;
  });
  EXPECT_EQ(Exchange(kiReadUserData).Data, "");
  std::vector<std::string> messages;
  const TMessageHandler previous =
      SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
  TKVXrec rec;
  ParseSetupStream(rec, Exchange(kiReadChannelSetup, std::string(1, '\0')).Data);
  ParseWatchStream(rec, Exchange(kiReadChannelWatch, std::string(1, '\0')).Data);
  SetMessageHandler(previous);
  // One code per channel, one message per stream.
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.front(), "A Unknown param #5 (05), #5 (05), #5 (05) and 1 more");
  EXPECT_EQ(messages.back(), "B Unknown param #5 (05), #5 (05), #5 (05) and 1 more");
  EXPECT_EQ(rec.Setup[4], sim_.State().Channels[4].Setup);  // the lone code costs nothing else
}

TEST_F(SimFaultTest, IgnoredWritesAreAcknowledged) {
  SetFault([](TKvxSimFaults& f) { f.IgnoreWrites = true; });
  const TKvxSimState before = sim_.State();
  EXPECT_EQ(Write(kiWriteCommParams, Bytes({9, 6})), kSimAck);
  EXPECT_EQ(Write(kiWriteUserData, '\0' + PadRight("x", 16)), kSimAck);
  EXPECT_EQ(sim_.State(), before);
}

TEST_F(SimFaultTest, StopAfterSomeRequests) {
  SetFault([](TKvxSimFaults& f) { f.StopAfter = 3; });
  for (int i = 0; i < 3; ++i) EXPECT_NE(RawExchange(kiReadType), "") << i;
  EXPECT_EQ(RawExchange(kiReadType), "");
  EXPECT_EQ(RawExchange(kiReadCommParams), "");
  sim_.SetFaults({});
  EXPECT_NE(RawExchange(kiReadType), "");
}

}  // namespace
