#include "tests/support/LogTestHooks.h"

#include <mutex>

#include "support/uLogState.h"

void SetDebugLogDirectory(std::string Directory) {
  TLogState& state = DebugLogState();
  std::lock_guard lock(state.FLock);
  state.FDirectory = std::move(Directory);
}

void SetDebugLogClock(std::function<TDateTime()> Clock) {
  TLogState& state = DebugLogState();
  std::lock_guard lock(state.FLock);
  state.FClock = std::move(Clock);
}

std::string DebugLogFileName() {
  TLogState& state = DebugLogState();
  std::lock_guard lock(state.FLock);
  return state.FFileName;
}
