#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "comm/uReentrantRWLock.h"

namespace {

using namespace std::chrono_literals;

// Starts `body` on another thread and reports whether it has finished.
class TProbe {
 public:
  template <class F>
  explicit TProbe(F body)
      : thread_([this, body] {
          body();
          done_ = true;
        }) {}
  ~TProbe() { thread_.join(); }
  // Waits generously for the other thread to finish; false when it stays blocked.
  bool WaitDone() const {
    for (int i = 0; i < 500 && !done_; ++i) std::this_thread::sleep_for(10ms);
    return done_;
  }
  // Gives the other thread ample time to get as far as it can.
  void Settle() const { std::this_thread::sleep_for(80ms); }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(ReentrantRWLock, WriterReentersForWritingAndReading) {
  TReentrantRWLock lock;
  EXPECT_TRUE(lock.BeginWrite());
  EXPECT_TRUE(lock.BeginWrite());
  lock.BeginRead();
  std::atomic<bool> otherRead{false};
  {
    TProbe reader([&] {
      lock.BeginRead();
      otherRead = true;
      lock.EndRead();
    });
    reader.Settle();
    lock.EndRead();
    lock.EndWrite();
    reader.Settle();
    EXPECT_FALSE(otherRead) << "a reader got in while the writer still held the lock";
    lock.EndWrite();
  }
  EXPECT_TRUE(otherRead);
}

TEST(ReentrantRWLock, ReadersShareAndWriterWaitsForThemAll) {
  TReentrantRWLock lock;
  lock.BeginRead();
  {
    TProbe secondReader([&] {
      lock.BeginRead();
      lock.EndRead();
    });
    EXPECT_TRUE(secondReader.WaitDone());
  }
  lock.BeginRead();  // a reader may take more reads
  std::atomic<bool> wrote{false};
  {
    TProbe writer([&] {
      lock.BeginWrite();
      wrote = true;
      lock.EndWrite();
    });
    writer.Settle();
    lock.EndRead();
    writer.Settle();
    EXPECT_FALSE(wrote);
    lock.EndRead();
  }
  EXPECT_TRUE(wrote);
}

TEST(ReentrantRWLock, SoleReaderMayAlsoWrite) {
  TReentrantRWLock lock;
  lock.BeginRead();
  lock.BeginWrite();
  lock.EndRead();  // ends may come in any order on the owning thread
  std::atomic<bool> read{false};
  {
    TProbe reader([&] {
      lock.BeginRead();
      read = true;
      lock.EndRead();
    });
    reader.Settle();
    EXPECT_FALSE(read);
    lock.EndWrite();
  }
  EXPECT_TRUE(read);
}

TEST(ReentrantRWLock, UnbalancedEndIsRefused) {
  TReentrantRWLock lock;
  EXPECT_ANY_THROW(lock.EndRead());
  EXPECT_ANY_THROW(lock.EndWrite());
}

}  // namespace
