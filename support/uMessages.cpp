#include "support/uMessages.h"

#include <iostream>
#include <mutex>

namespace {
std::mutex gMutex;
TMessageHandler gHandler;
}  // namespace

void ShowMessage(const std::string& text) {
  TMessageHandler handler;
  {
    std::lock_guard lock(gMutex);
    handler = gHandler;
  }
  if (handler)
    handler(text);
  else
    std::cerr << text << '\n';
}

TMessageHandler SetMessageHandler(TMessageHandler handler) {
  std::lock_guard lock(gMutex);
  std::swap(gHandler, handler);
  return handler;
}
