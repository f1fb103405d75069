#pragma once
// Files that are never left half written, and the lock that keeps two kvxctl runs on one
// directory apart.
#include <cstddef>
#include <limits>
#include <string>

// The file; reading stops once it has more than Largest bytes, so that a file too large is told
// without reading it whole. Raises TCtlError(ceUsage) when it cannot be read.
std::string ReadTextFile(const std::string& File,
                         std::size_t Largest = std::numeric_limits<std::size_t>::max());
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
