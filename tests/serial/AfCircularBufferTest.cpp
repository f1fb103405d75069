#include "serial/AfCircularBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Drain(TAfCircularBuffer& B) {
  std::string Out;
  while (B.UsedCount() > 0) {
    Out.append(B.ReadPointer(), static_cast<std::size_t>(B.LinearReadCount()));
    EXPECT_TRUE(B.Remove(B.LinearReadCount()));
  }
  return Out;
}

TEST(AfCircularBuffer, FullBufferAndPartialRemove) {
  TAfCircularBuffer B(8);
  ASSERT_TRUE(B.Write("abcdefgh", 8));
  EXPECT_EQ(B.UsedCount(), 8);
  EXPECT_EQ(B.FreeSpace(), 0);
  EXPECT_EQ(B.LinearReadCount(), 8);
  EXPECT_FALSE(B.Write("x", 1));
  ASSERT_TRUE(B.Remove(3));
  EXPECT_EQ(B.UsedCount(), 5);
  EXPECT_EQ(B.FreeSpace(), 3);
  EXPECT_EQ(std::string(B.ReadPointer(), 5), "defgh");
}

TEST(AfCircularBuffer, WrappedRunIsReadInTwoPiecesInOrder) {
  TAfCircularBuffer B(8);
  ASSERT_TRUE(B.Write("012345", 6));
  ASSERT_TRUE(B.Remove(6));         // read position 6, write position 6
  ASSERT_TRUE(B.Write("abcd", 4));  // crosses the end: 2 bytes at 6, 2 at 0
  EXPECT_EQ(B.LinearReadCount(), 2);
  EXPECT_EQ(B.UsedCount(), 4);
  EXPECT_EQ(Drain(B), "abcd");
}

TEST(AfCircularBuffer, ReadBehindWriteGivesLinearCountToTheEnd) {
  TAfCircularBuffer B(8);
  ASSERT_TRUE(B.Write("0123456", 7));
  ASSERT_TRUE(B.Remove(6));        // read 6, write 7
  ASSERT_TRUE(B.Write("abc", 3));  // write position 2
  EXPECT_EQ(B.LinearReadCount(), 2);
  EXPECT_EQ(B.UsedCount(), 4);
  EXPECT_EQ(Drain(B), "6abc");
}

TEST(AfCircularBuffer, RefusedWritesAndRemovesChangeNothing) {
  TAfCircularBuffer B(8);
  EXPECT_FALSE(B.Write("", 0));
  EXPECT_FALSE(B.Write("abc", -1));
  ASSERT_TRUE(B.Write("abcde", 5));
  EXPECT_FALSE(B.Write("wxyz", 4));  // all or nothing
  EXPECT_FALSE(B.Remove(6));
  EXPECT_FALSE(B.Remove(-1));
  EXPECT_EQ(Drain(B), "abcde");
  B.Write("xy", 2);
  B.Clear();
  EXPECT_EQ(B.UsedCount(), 0);
  EXPECT_EQ(B.FreeSpace(), 8);
}

TEST(AfCircularBuffer, FillingExactlyToTheEndWrapsWritePositionToZero) {
  TAfCircularBuffer B(4);
  ASSERT_TRUE(B.Write("ab", 2));
  ASSERT_TRUE(B.Remove(2));
  ASSERT_TRUE(B.Write("cd", 2));  // write position back to 0
  ASSERT_TRUE(B.Write("ef", 2));
  EXPECT_EQ(B.FreeSpace(), 0);
  EXPECT_EQ(Drain(B), "cdef");
}

}  // namespace
