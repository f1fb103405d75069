#include "sim/uKvxPauseObserver.h"

#include <utility>

TKVXPauseObserver::TKVXPauseObserver(std::function<void(int Milliseconds)> OnPause)
    : FPrevious(SetKVXPauseFunction([onPause = std::move(OnPause)](int Milliseconds) {
        KVXSleep(Milliseconds);
        onPause(Milliseconds);
      })) {}

TKVXPauseObserver::~TKVXPauseObserver() {
  SetKVXPauseFunction(std::move(FPrevious));
}
