#include <gtest/gtest.h>

#include "protocol/uTirmel97.h"
#include "support/uErrors.h"

namespace {

const std::string kReadTypeRequest("\x2A\x61\x00\x05\xFE\x01\xF3\x7D\x0D", 9);

TEST(FrameBuild, WorkedExampleByteForByte) {
  EXPECT_EQ(BuildFrame(0xFE, 1, 0xF3, ""), kReadTypeRequest);
  EXPECT_EQ(ValidateFrame(kReadTypeRequest), 0);
}

TEST(FrameBuild, ChecksumWrapsModulo256) {
  const std::string data(300, '\xFF');  // the running sum passes 255 hundreds of times
  const std::string frame = BuildFrame(7, 1, 0x1E, data);
  ASSERT_EQ(frame.size(), data.size() + 9);
  EXPECT_EQ(ValidateFrame(frame), 0);
  unsigned sum = 0;
  for (std::size_t i = 0; i + 2 < frame.size(); ++i) sum += static_cast<unsigned char>(frame[i]);
  EXPECT_EQ(static_cast<unsigned char>(frame[frame.size() - 2]), 0xFF - (sum & 0xFF));
  EXPECT_EQ(FrameChecksum(""), 0xFF);
}

TEST(FrameBuild, DataSizeLimit) {
  EXPECT_NO_THROW(BuildFrame(1, 1, 1, std::string(kMaxFrameData, 'x')));
  EXPECT_THROW(BuildFrame(1, 1, 1, std::string(kMaxFrameData + 1, 'x')), Exception);
}

TEST(FrameValidate, OnlyTheBeginningOfAFrameCanStillBecomeOne) {
  const std::string frame = BuildFrame(0xFE, 1, 0xF3, "KVX");
  for (std::size_t n = 0; n < frame.size(); ++n)
    EXPECT_FALSE(FrameCannotComplete(frame.substr(0, n))) << n;
  EXPECT_FALSE(FrameCannotComplete(frame));  // complete and valid
  EXPECT_TRUE(FrameCannotComplete("S"));     // a talker's stream, noise
  EXPECT_TRUE(FrameCannotComplete("*b"));
  EXPECT_TRUE(FrameCannotComplete("x" + frame));
  EXPECT_TRUE(FrameCannotComplete(frame + "z"));  // more than its length says
  std::string badSum = frame;
  badSum[badSum.size() - 2] ^= 1;
  EXPECT_TRUE(FrameCannotComplete(badSum));
}

TEST(FrameValidate, EveryResultCode) {
  for (std::size_t n = 0; n < 8; ++n) EXPECT_EQ(ValidateFrame(kReadTypeRequest.substr(0, n)), 1);
  std::string noPrefix = kReadTypeRequest;
  noPrefix[0] = '#';
  EXPECT_EQ(ValidateFrame(noPrefix), 2);
  EXPECT_EQ(ValidateFrame("x" + kReadTypeRequest), 2);  // no resynchronisation
  std::string badFormat = kReadTypeRequest;
  badFormat[1] = 'b';
  EXPECT_EQ(ValidateFrame(badFormat), 3);
  EXPECT_EQ(ValidateFrame(kReadTypeRequest.substr(0, 8)), 4);            // still arriving
  EXPECT_EQ(ValidateFrame(kReadTypeRequest + std::string(1, '\0')), 4);  // bytes after its end
  std::string badChecksum = kReadTypeRequest;
  badChecksum[7] = 0x7E;
  EXPECT_EQ(ValidateFrame(badChecksum), 5);
  std::string badEnd = kReadTypeRequest;
  badEnd[8] = '\n';
  EXPECT_EQ(ValidateFrame(badEnd), 6);
}

TEST(FrameParse, ThreeDataBytes) {
  const std::string frame = BuildFrame(0x12, 1, 0x06, std::string("\x01\x02\x03", 3));
  TTirmelFormat97 parsed;
  ParseFrame(frame, parsed);
  EXPECT_EQ(parsed.Prefix, '*');
  EXPECT_EQ(parsed.Format, 'a');
  EXPECT_EQ(parsed.Length, 8);
  EXPECT_EQ(parsed.Address, 0x12);
  EXPECT_EQ(parsed.Signature, 1);
  EXPECT_EQ(parsed.Instruction, 0x06);
  EXPECT_EQ(parsed.Data, std::string("\x01\x02\x03", 3));
  EXPECT_EQ(parsed.Checksum, static_cast<unsigned char>(frame[10]));
  EXPECT_EQ(parsed.Terminator, 0x0D);
}

TEST(FrameParse, RefusesShortOrOverlongInput) {
  TTirmelFormat97 parsed;
  parsed.Terminator = 0x0D;
  // Eight bytes with length field 4 pass the validator but carry no instruction byte.
  const std::string eight("\x2A\x61\x00\x04\xFE\x01\x71\x0D", 8);
  ASSERT_EQ(ValidateFrame(eight), 0);
  try {
    ParseFrame(eight, parsed);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Incorrect PACKET (Tirmel format 97)!");
  }
  EXPECT_EQ(parsed.Terminator, 0);
  std::string overlong = kReadTypeRequest;
  overlong[3] = 0x06;  // checksum and terminator beyond the end
  EXPECT_THROW(ParseFrame(overlong, parsed), Exception);
  std::string tooShortLength = kReadTypeRequest;
  tooShortLength[3] = 0x02;
  EXPECT_THROW(ParseFrame(tooShortLength, parsed), Exception);
}

}  // namespace
