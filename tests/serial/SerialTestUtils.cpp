#include "SerialTestUtils.h"

#include <thread>

TTestMainThread::TTestMainThread()
    : Dispatcher(std::make_shared<TAfPlainDispatcher>()), FPrevious(AfMainThreadDispatcher()) {
  SetAfMainThreadDispatcher(Dispatcher);
}

TTestMainThread::~TTestMainThread() {
  Dispatcher->ProcessPending();
  SetAfMainThreadDispatcher(FPrevious);
}

bool TTestMainThread::PumpUntil(const std::function<bool()>& Done,
                                std::chrono::milliseconds Limit) {
  auto End = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    Dispatcher->PumpFor(std::chrono::milliseconds(5));
  }
  return true;
}

void TTestMainThread::PumpFor(std::chrono::milliseconds Time) {
  auto End = std::chrono::steady_clock::now() + Time;
  while (std::chrono::steady_clock::now() < End) Dispatcher->PumpFor(std::chrono::milliseconds(5));
}

TTestLines::TTestLines(std::map<std::int32_t, std::shared_ptr<TAfSimLine>> Lines)
    : FPrevious(SetAfComDeviceFactory(AfSimComDeviceFactory(std::move(Lines)))) {}

TTestLines::~TTestLines() {
  SetAfComDeviceFactory(FPrevious);
}

bool WaitUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
  auto End = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::chrono::milliseconds Timed(const std::function<void()>& Operation) {
  const auto start = std::chrono::steady_clock::now();
  Operation();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}
