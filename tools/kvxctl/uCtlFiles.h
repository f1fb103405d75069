#pragma once
// Files that are never left half written, and the lock that keeps two kvxctl runs on one
// directory apart.
#include <cstddef>
#include <string>

// The file, but at most Largest + 1 bytes of it, so that a file too large is told without
// reading it whole; raises TCtlError(ceUsage) when it cannot be read.
std::string ReadTextFile(const std::string& File, std::size_t Largest);
// Writes Text to a temporary name beside File, syncs it and renames it over File, so that File
// is at every moment either the old or the new one. Raises TCtlError(ceUsage).
void WriteFileAtomically(const std::string& File, const std::string& Text);

// Holds an exclusive lock on the directory Dir; a second holder waits for none but is refused.
// The holder removes the temporaries that killed runs left in Dir.
class TDirLock {
 public:
  // Raises TCtlError(ceUsage) when the lock is held elsewhere or cannot be made.
  explicit TDirLock(const std::string& Dir);
  ~TDirLock();
  TDirLock(const TDirLock&) = delete;
  TDirLock& operator=(const TDirLock&) = delete;

 private:
  int FHandle;
};
