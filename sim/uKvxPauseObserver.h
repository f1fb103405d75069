#pragma once
// Hears of every pause the command set takes, for as long as it lives: each pause is still
// taken in full, then the observer is told of it (on the thread that paused). The latest
// observer alone hears; the one before it hears again once the latest is gone.
#include <functional>

#include "protocol/uKVXxxCommands.h"

class TKVXPauseObserver {
 public:
  explicit TKVXPauseObserver(std::function<void(int Milliseconds)> OnPause);
  ~TKVXPauseObserver();
  TKVXPauseObserver(const TKVXPauseObserver&) = delete;
  TKVXPauseObserver& operator=(const TKVXPauseObserver&) = delete;

 private:
  TKVXPauseFunction FPrevious;
};
