#pragma once
// The trace file's state, behind one lock. The log is its only user in the product; the test
// rig reaches it too, to point the log at a scratch folder and a fixed clock.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <unistd.h>

#include "support/uDateTimeUtils.h"

struct TLogState {
  std::mutex FLock;
  int FFd = -1;
  int32_t FLogDay = 0;
  std::string FFileName;
  // Where the files go first; empty means the program's directory unless it is installed.
  std::string FDirectory;
  // The local date-time source; empty means Now.
  std::function<TDateTime()> FClock;
  std::function<void(const std::string&)> FOnOpened;

  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FLogDay = 0;
    FFileName.clear();
  }
};

TLogState& DebugLogState();
