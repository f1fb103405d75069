#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "protocol/uKVXxx.h"
#include "protocol/uTirmel97.h"
#include "sim/uKvxSimStreams.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uMessages.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// Collects operator messages for the lifetime of the fixture.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageHandler([this](const std::string& text) { messages_.push_back(text); });
  }
  void TearDown() override { SetMessageHandler(previous_); }

  std::vector<std::string> messages_;
  TKVXrec rec_;

 private:
  TMessageHandler previous_;
};

TEST(ByteCodecs, TakeConsumesCodeAndValue) {
  std::string s = Bytes({0x13, 'a', 'b', 'c', 0x15});
  EXPECT_EQ(TakeBytes(s, 3), "abc");
  EXPECT_EQ(s, Bytes({0x15}));
  EXPECT_EQ(TakeBytes(s, 3), "");  // only the code byte was left
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(TakeBytes(s, 2), "");

  std::string shorter = Bytes({0x12, 'x', 'y'});
  EXPECT_EQ(TakeBytes(shorter, 15), "xy");
  EXPECT_TRUE(shorter.empty());
}

TEST(ByteCodecs, TakeByteAndUnsigned) {
  std::string s = Bytes({0x15, 0x02, 0x20});
  EXPECT_EQ(TakeByte(s), 2);
  EXPECT_THROW(TakeByte(s), Exception);  // 0x20 with no value byte

  std::string number = Bytes({0x00, 0x12, 0x34, 0x56});
  EXPECT_EQ(TakeUnsigned(number, 3), 0x123456u);
  std::string none = Bytes({0x00});
  EXPECT_EQ(TakeUnsigned(none, 2), 0u);
}

TEST(ByteCodecs, RealIsBigEndianSingle) {
  EXPECT_EQ(FloatToStrBin(1.0f), Bytes({0x3F, 0x80, 0x00, 0x00}));
  std::string s = Bytes({0x16, 0x3F, 0x80, 0x00, 0x00});
  EXPECT_EQ(TakeReal(s), 1.0f);
  EXPECT_TRUE(s.empty());
  std::string cut = Bytes({0x16, 0x3F, 0x80, 0x00});
  try {
    TakeReal(cut);
    FAIL() << "a three-byte real was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "StrBin must be 4 chars length");
  }
}

TEST(ModuleType, FirstMatchInFixedOrder) {
  EXPECT_EQ(ModuleTypeFromText("KVX usb rs485"), mtUSB);
  EXPECT_EQ(ModuleTypeFromText("KVX VIROD RS485"), mtRS);
  EXPECT_EQ(ModuleTypeFromText("Novra 4AI"), mtNOVRA);
  EXPECT_EQ(ModuleTypeFromText("NOVRA RS"), mtNOVRA);
  EXPECT_EQ(ModuleTypeFromText("NOVRA USB"), mtUSB);
  EXPECT_EQ(ModuleTypeFromText("NOVRA ETH"), mtETH);
  EXPECT_EQ(ModuleTypeFromText("eth"), mtETH);
  EXPECT_EQ(ModuleTypeFromText(""), mtUnknown);
  EXPECT_EQ(ModuleTypeFromText("KVX"), mtUnknown);
}

TEST(ModuleType, ProductionText) {
  EXPECT_EQ(ProductionText(123, 45), "0123.xx.xx/0045");
  EXPECT_EQ(ProductionText(0, 0), "0000.xx.xx/0000");
  EXPECT_EQ(ProductionText(65535, 12345), "65535.xx.xx/12345");
}

TEST_F(StreamTest, DecimalsOnlyIntoSelectedChannel) {
  const TKVXrec before = rec_;
  EXPECT_TRUE(ParseSetupStream(rec_, Bytes({0x01, 0x02, 0x15, 0x01})));
  TKVXrec expected = before;
  expected.Setup[2].Channel = 2;
  expected.Setup[2].Decimals = 1;
  EXPECT_EQ(rec_, expected);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(StreamTest, GainSetsPresenceUntilNextChannelItem) {
  ParseSetupStream(rec_, Bytes({0x01, 0x01, 0x1A, 0x03}));
  EXPECT_EQ(rec_.Setup[1].GainIndex, 3);
  EXPECT_TRUE(rec_.Setup[1].GainPresent);
  ParseSetupStream(rec_, Bytes({0x01, 0x01}));
  EXPECT_FALSE(rec_.Setup[1].GainPresent);
  EXPECT_EQ(rec_.Setup[1].GainIndex, 3);
}

TEST_F(StreamTest, EveryReadableSetupField) {
  std::string s = Bytes({0x01, 0x04});
  s += '\x11' + std::string("Teplota kotle        ");
  s += '\x12' + std::string("0..10 V        ");
  s += '\x13' + std::string("degC ");
  s += '\x14' + std::string("aux  ");
  s += Bytes({0x15, 0x02});
  s += '\x16' + FloatToStrBin(0.01f);
  s += '\x17' + std::string("seventeen ");
  s += '\x18' + FloatToStrBin(-50.0f);
  s += '\x19' + std::string("nineteen  ");
  s += Bytes({0x1A, 0x07, 0x20, 0x02});
  ParseSetupStream(rec_, s);
  const TChannelSetup& c = rec_.Setup[4];
  EXPECT_EQ(c.Channel, 4);
  EXPECT_EQ(c.Name, "Teplota kotle        ");
  EXPECT_EQ(c.InputRange, "0..10 V        ");
  EXPECT_EQ(c.Unit, "degC ");
  EXPECT_EQ(c.AuxText, "aux  ");
  EXPECT_EQ(c.Decimals, 2);
  EXPECT_EQ(c.Scale, 0.01f);
  EXPECT_EQ(c.Text17, "seventeen ");
  EXPECT_EQ(c.Offset, -50.0f);
  EXPECT_EQ(c.Text19, "nineteen  ");
  EXPECT_EQ(c.GainIndex, 7);
  EXPECT_TRUE(c.GainPresent);
  EXPECT_EQ(c.Loop, 2);
  // The module's own stream of the record is the stream parsed.
  EXPECT_EQ(EncodeSetupStream(c), s);
}

TEST_F(StreamTest, ShortTextStoredAsFarAsItGoes) {
  ParseSetupStream(rec_, Bytes({0x01, 0x03, 0x13, 'm', 'V'}));
  EXPECT_EQ(rec_.Setup[3].Unit, "mV");
}

TEST_F(StreamTest, WatchFlagsAndSkippedBytes) {
  ParseWatchStream(rec_, Bytes({0x01, 0x03, 0x12, 0x80}));
  EXPECT_EQ(rec_.Watch[3].Flags, kWatchOnFlag);
  const TKVXrec before = rec_;
  ParseWatchStream(rec_, Bytes({0x01, 0x03, 0x20, 0x05}));
  EXPECT_EQ(rec_, before);
  ParseWatchStream(rec_, Bytes({0x01, 0x02, 0x1B, 0x12, 0x21, 0x01, 0x12, 0x81}));
  EXPECT_EQ(rec_.Watch[2].Flags, 0x81);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(StreamTest, EveryReadableWatchField) {
  TChannelWatch w;
  w.Channel = 1;
  w.Flags = 0x83;
  w.UpperLimit = 99.5f;
  w.Text14 = "upper     ";
  w.LowerLimit = -12.25f;
  w.Text16 = "lower     ";
  w.Hysteresis = 0.5f;
  w.Text18 = "hyst      ";
  w.Option1A = true;
  ParseWatchStream(rec_, EncodeWatchStream(w));
  EXPECT_EQ(rec_.Watch[1], w);
  ParseWatchStream(rec_, Bytes({0x01, 0x01, 0x1A, 0x02}));
  EXPECT_FALSE(rec_.Watch[1].Option1A);  // only the value 1 means on
}

TEST_F(StreamTest, ItemWithoutChannelStopsTheParse) {
  EXPECT_THROW(ParseSetupStream(rec_, Bytes({0x15, 0x02})), Exception);
  EXPECT_THROW(ParseWatchStream(rec_, Bytes({0x12, 0x80})), Exception);
  EXPECT_EQ(rec_, TKVXrec{});
}

TEST_F(StreamTest, ChannelOutOfRangeKeepsWhatCameBefore) {
  EXPECT_THROW(ParseSetupStream(rec_, Bytes({0x01, 0x01, 0x15, 0x02, 0x01, 0x05, 0x15, 0x01})),
               Exception);
  EXPECT_EQ(rec_.Setup[1].Decimals, 2);
  EXPECT_THROW(ParseWatchStream(rec_, Bytes({0x01, 0x00})), Exception);
  EXPECT_EQ(rec_.Watch[0], TChannelWatch{});
}

TEST_F(StreamTest, TruncatedValuesAreErrors) {
  EXPECT_THROW(ParseSetupStream(rec_, Bytes({0x01, 0x01, 0x1A})), Exception);
  EXPECT_FALSE(rec_.Setup[1].GainPresent);
  EXPECT_THROW(ParseSetupStream(rec_, Bytes({0x01, 0x02, 0x16, 0x3F, 0x80})), Exception);
  EXPECT_EQ(rec_.Setup[2].Scale, 0.0f);
  EXPECT_THROW(ParseWatchStream(rec_, Bytes({0x01, 0x02, 0x12})), Exception);
  EXPECT_THROW(ParseSetupStream(rec_, Bytes({0x01})), Exception);
}

TEST_F(StreamTest, UnknownCodeReportedAndOnlyItsByteDropped) {
  // 05 is unknown; the 15 02 after it is read as the decimals item.
  ParseSetupStream(rec_, Bytes({0x01, 0x01, 0x05, 0x15, 0x02}));
  EXPECT_THAT(messages_, ElementsAre("A Unknown param #5 (05)"));
  EXPECT_EQ(rec_.Setup[1].Decimals, 2);
  messages_.clear();
  ParseWatchStream(rec_, Bytes({0xFE, 0x01, 0x01, 0x11}));
  EXPECT_THAT(messages_, ElementsAre("B Unknown param #254 (FE), #17 (11)"));
  EXPECT_EQ(rec_.Watch[1].Channel, 1);
}

TEST_F(StreamTest, UnknownCodesGiveOneMessagePerStream) {
  // The largest frame's data: a channel item, then nothing but unknown codes.
  const std::string maximal = Bytes({0x01, 0x01}) + std::string(kMaxFrameData - 2, '\x05');
  const struct {
    const char* Name;
    std::string Stream;
    bool Setup;
    const char* Message;
  } cases[] = {
      {"three", Bytes({0x01, 0x02, 0x05, 0x06, 0xFF}), true,
       "A Unknown param #5 (05), #6 (06), #255 (FF)"},
      {"four", Bytes({0x01, 0x02, 0x05, 0x06, 0x07, 0x08}), false,
       "B Unknown param #5 (05), #6 (06), #7 (07) and 1 more"},
      {"maximal", maximal, true, "A Unknown param #5 (05), #5 (05), #5 (05) and 65525 more"},
      {"before the error that stops the parse", Bytes({0x05, 0x15, 0x02}), true,
       "A Unknown param #5 (05)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    messages_.clear();
    try {
      if (c.Setup)
        ParseSetupStream(rec_, c.Stream);
      else
        ParseWatchStream(rec_, c.Stream);
    } catch (const Exception&) {
    }
    EXPECT_THAT(messages_, ElementsAre(c.Message));
  }
}

TChannelSetup SampleSetup() {
  TChannelSetup s;
  s.Channel = 2;
  s.Name = "Tlak                 ";
  s.InputRange = "4..20 mA       ";
  s.Unit = "bar  ";
  s.AuxText = "x    ";
  s.Decimals = 1;
  s.Scale = 0.001f;
  s.Text17 = "abcdefghij";
  s.Offset = 0;
  s.Text19 = "          ";
  s.Loop = 1;
  s.GainPresent = true;
  s.GainIndex = 2;
  return s;
}

TEST(SetupChanges, EqualRecordsGiveNothing) {
  EXPECT_EQ(BuildSetupChanges(SampleSetup(), SampleSetup()), "");
  EXPECT_EQ(BuildWatchChanges(TChannelWatch{}, TChannelWatch{}), "");
}

TEST(SetupChanges, OneLetterUnitIsPadded) {
  TChannelSetup edited = SampleSetup();
  edited.Unit = "V";
  EXPECT_EQ(BuildSetupChanges(edited, SampleSetup()), std::string("\x13V    "));
}

TEST(SetupChanges, TextsCompareByLengthToo) {
  TChannelSetup edited = SampleSetup();
  edited.Unit = "bar";  // same characters, shorter
  EXPECT_EQ(BuildSetupChanges(edited, SampleSetup()), std::string("\x13"
                                                                  "bar  "));
  edited.Unit = "kilopascal";  // cut to the width
  EXPECT_EQ(BuildSetupChanges(edited, SampleSetup()), std::string("\x13kilop"));
}

TEST(SetupChanges, NeverWritesNameAuxOrLoop) {
  TChannelSetup edited = SampleSetup();
  edited.Name = "Other";
  edited.AuxText = "y";
  edited.Loop = 2;
  edited.Channel = 3;
  EXPECT_EQ(BuildSetupChanges(edited, SampleSetup()), "");
}

TEST(SetupChanges, GainOnlyWhenReadCopyHasIt) {
  TChannelSetup read = SampleSetup();
  TChannelSetup edited = read;
  edited.GainIndex = 5;
  EXPECT_EQ(BuildSetupChanges(edited, read), Bytes({0x1A, 0x05}));
  read.GainPresent = false;
  edited.GainPresent = true;
  EXPECT_EQ(BuildSetupChanges(edited, read), "");
}

TEST(SetupChanges, AllWrittenFieldsInTableOrder) {
  const TChannelSetup read = SampleSetup();
  TChannelSetup edited = read;
  edited.InputRange = "0..1 V";
  edited.Unit = "mbar";
  edited.Decimals = 2;
  edited.Scale = 1.0f;
  edited.Text17 = "A";
  edited.Offset = -1.0f;
  edited.Text19 = "B";
  edited.GainIndex = 0;
  std::string expected =
      "\x12"
      "0..1 V         ";
  expected += "\x13mbar ";
  expected += Bytes({0x15, 0x02, 0x16, 0x3F, 0x80, 0x00, 0x00});
  expected +=
      "\x17"
      "A         ";
  expected += Bytes({0x18, 0xBF, 0x80, 0x00, 0x00});
  expected +=
      "\x19"
      "B         ";
  expected += Bytes({0x1A, 0x00});
  EXPECT_EQ(BuildSetupChanges(edited, read), expected);
}

TEST(SetupChanges, RealsCompareExactly) {
  TChannelSetup read = SampleSetup();
  TChannelSetup edited = read;
  edited.Scale = std::nextafter(read.Scale, 1.0f);
  EXPECT_EQ(BuildSetupChanges(edited, read).substr(0, 1), "\x16");
  read.Offset = edited.Offset = std::numeric_limits<float>::quiet_NaN();
  edited.Scale = read.Scale;
  EXPECT_EQ(BuildSetupChanges(edited, read), "");  // a NaN read back is not written again
  edited.Offset = -0.0f;
  read.Offset = 0.0f;
  EXPECT_EQ(BuildSetupChanges(edited, read), Bytes({0x18, 0x80, 0x00, 0x00, 0x00}));
}

TEST(WatchChanges, HandMadePair) {
  TChannelWatch read;
  read.Channel = 1;
  read.Flags = 0x03;
  read.UpperLimit = 10;
  read.Text14 = "t14";
  read.LowerLimit = -10;
  read.Text16 = "t16";
  read.Hysteresis = 1;
  read.Text18 = "t18";
  read.Option1A = false;
  TChannelWatch edited = read;
  edited.Option1A = true;  // never written
  EXPECT_EQ(BuildWatchChanges(edited, read), "");
  edited.Flags = 0x83;
  edited.LowerLimit = 2.0f;
  edited.Text18 = "eighteen";
  std::string expected = Bytes({0x12, 0x83, 0x15, 0x40, 0x00, 0x00, 0x00});
  expected +=
      "\x18"
      "eighteen  ";
  EXPECT_EQ(BuildWatchChanges(edited, read), expected);
  edited = read;
  edited.UpperLimit = 1.0f;
  edited.Text14 = "";
  edited.Text16 = "T16";
  edited.Hysteresis = 0.0f;
  expected = Bytes({0x13, 0x3F, 0x80, 0x00, 0x00});
  expected +=
      "\x14"
      "          ";
  expected += "\x16T16       ";
  expected += Bytes({0x17, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(BuildWatchChanges(edited, read), expected);
}

std::string Block(int channel, int status, float value, const std::string& text) {
  return Bytes({channel, status, 0x12, 0x34}) + FloatToStrBin(value) + text;
}

TEST(MeasuredValue, ValidOverflowAndFields) {
  TKVXChannelRecountedValue v;
  DecodeMeasuredValue(Block(3, 0x84, 12.5f, "   12.50  "), v);
  EXPECT_TRUE(v.Valid);
  EXPECT_TRUE(v.Overflow);
  EXPECT_EQ(v.Channel, 3);
  EXPECT_EQ(v.Aux, 0x1234);
  EXPECT_EQ(v.Value, 12.5);
  EXPECT_EQ(v.Text, "   12.50  ");
}

TEST(MeasuredValue, StatusBits) {
  TKVXChannelRecountedValue v;
  DecodeMeasuredValue(Block(1, 0x00, 1.0f, "0123456789"), v);
  EXPECT_FALSE(v.Valid);
  EXPECT_FALSE(v.Overflow);
  DecodeMeasuredValue(Block(1, 0x7B, 1.0f, "0123456789"), v);  // every bit but 7 and 2
  EXPECT_FALSE(v.Valid);
  EXPECT_FALSE(v.Overflow);
  DecodeMeasuredValue(Block(1, 0x80, -0.25f, "0123456789"), v);
  EXPECT_TRUE(v.Valid);
  EXPECT_FALSE(v.Overflow);
  EXPECT_EQ(v.Value, -0.25);
}

TEST(MeasuredValue, WrongLengthLeavesInvalid) {
  TKVXChannelRecountedValue v;
  DecodeMeasuredValue(Block(1, 0x80, 1.0f, "0123456789"), v);
  ASSERT_TRUE(v.Valid);
  try {
    DecodeMeasuredValue(Block(1, 0x80, 1.0f, "012345678"), v);
    FAIL() << "a 17-byte block was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid value data length");
  }
  EXPECT_FALSE(v.Valid);
  EXPECT_THROW(DecodeMeasuredValue(Block(1, 0x80, 1.0f, "0123456789X"), v), Exception);
  EXPECT_THROW(DecodeMeasuredValue("", v), Exception);
}

TEST(ErrorTexts, NameTheProblem) {
  TKVXrec rec;
  try {
    ParseSetupStream(rec, Bytes({0x01, 0x09}));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_THAT(e.what(), HasSubstr("channel number 9"));
  }
}

}  // namespace
