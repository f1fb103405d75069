#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "support/uFileUtils.h"

namespace {

// A pipe takes far less than a megabyte at a time, so the write goes in many pieces.
TEST(WriteAll, EveryByteArrivesWhenTheDescriptorTakesThemInPieces) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::string sent(1 << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(ends[0], buffer, sizeof buffer)) > 0) received.append(buffer, count);
  });
  EXPECT_EQ(WriteAll(ends[1], sent), 0);
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);
  EXPECT_EQ(received, sent);
}

TEST(WriteAll, ARefusedWriteAnswersTheSystemsReason) {
  const int readOnly = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(readOnly, 0);
  EXPECT_EQ(WriteAll(readOnly, "line\n"), EBADF);
  ::close(readOnly);
}

TEST(WriteAll, NothingToWriteSucceeds) {
  EXPECT_EQ(WriteAll(-1, ""), 0);
}

}  // namespace
