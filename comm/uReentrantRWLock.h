#pragma once
// Multi-reader, single-writer lock in which the writing thread may take the lock again for
// writing and for reading, and a reading thread may take more reads. A thread that holds
// reads may also ask to write: it gets the lock once it is the only reader left (two
// threads doing this at the same time would wait for each other, so nothing here does).
// Every Begin must be matched by its End on the same thread.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

class TReentrantRWLock {
 public:
  // Always true: the caller holds the lock for writing when it returns.
  bool BeginWrite();
  void EndWrite();
  void BeginRead();
  void EndRead();

 private:
  bool CanWrite(std::thread::id me) const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id writer_;  // default id: nobody writes
  int writeDepth_ = 0;
  std::map<std::thread::id, int> reads_;  // reads held per thread
  int readCount_ = 0;
};

// Scoped holders for the common case.
class TReadLock {
 public:
  explicit TReadLock(TReentrantRWLock& lock) : lock_(lock) { lock_.BeginRead(); }
  ~TReadLock() { lock_.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  TReentrantRWLock& lock_;
};

class TWriteLock {
 public:
  explicit TWriteLock(TReentrantRWLock& lock) : lock_(lock) { lock_.BeginWrite(); }
  ~TWriteLock() { lock_.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

 private:
  TReentrantRWLock& lock_;
};
