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

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::thread::id FWriter;  // default id: nobody writes
  int FWriteDepth = 0;
  std::map<std::thread::id, int> FReads;  // reads held per thread
  int FReadCount = 0;
};

// Scoped holders for the common case.
class TReadLock {
 public:
  explicit TReadLock(TReentrantRWLock& lock) : FLock(lock) { FLock.BeginRead(); }
  ~TReadLock() { FLock.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  TReentrantRWLock& FLock;
};

class TWriteLock {
 public:
  explicit TWriteLock(TReentrantRWLock& lock) : FLock(lock) { FLock.BeginWrite(); }
  ~TWriteLock() { FLock.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

 private:
  TReentrantRWLock& FLock;
};
