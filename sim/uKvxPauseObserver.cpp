#include "sim/uKvxPauseObserver.h"

#include <utility>

TKVXPauseObserver::TKVXPauseObserver(std::function<void(int Milliseconds)> OnPause)
    : FPrevious(SetKVXPauseFunction([OnPause = std::move(OnPause)](int Milliseconds) {
        KVXSleep(Milliseconds);
        OnPause(Milliseconds);
      })) {}

TKVXPauseObserver::~TKVXPauseObserver() {
  SetKVXPauseFunction(std::move(FPrevious));
}
