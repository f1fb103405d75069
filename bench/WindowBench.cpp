// How long the window goes without a chance to draw itself while its thread waits for a module
// that does not answer (one exchange with a time-out of 1000 ms on the window's thread,
// offscreen).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/uf_MainQtGlue.h"
#include "sim/uInProcessChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

// A far end that takes every request and never answers.
class TSilentPeer : public ISimPeer {
 public:
  void Write(std::string_view, std::uint32_t, Clock::time_point) override {}
  std::string Read(Clock::time_point) override { return {}; }
  std::size_t Available(Clock::time_point) const override { return 0; }
  std::optional<Clock::time_point> NextDue() const override { return std::nullopt; }
};

// Stands for the window: an event posted from another thread every millisecond, and how late
// each is delivered, is the time the window had no chance to draw.
class TPostedAt : public QEvent {
 public:
  TPostedAt() : QEvent(QEvent::User), At(Clock::now()) {}
  const Clock::time_point At;
};

class TDrawChances : public QObject {
 public:
  bool event(QEvent* Event) override {
    if (Event->type() != QEvent::User) return QObject::event(Event);
    const auto late = Clock::now() - static_cast<TPostedAt*>(Event)->At;
    Longest = std::max(Longest, std::chrono::duration<double, std::milli>(late).count());
    return true;
  }
  double Longest = 0;
};

void BM_WindowDrawsWhileAModuleIsSilent(benchmark::State& State) {
  const TQtServices services(QCoreApplication::instance());
  auto channel =
      Create<TInProcessChannel>("SIM1", std::make_shared<TSilentPeer>(), "baudrate=9600");
  channel->Open();
  for (auto _ : State) {
    TDrawChances window;
    std::atomic<bool> waiting{true};
    std::thread poster([&] {
      while (waiting) {
        QCoreApplication::postEvent(&window, new TPostedAt);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    std::string reply;
    channel->Query("request", 1000, reply, {}, 64);
    waiting = false;
    poster.join();
    QCoreApplication::removePostedEvents(&window);
    State.counters["longest_without_drawing_ms"] = window.Longest;
  }
}
BENCHMARK(BM_WindowDrawsWhileAModuleIsSilent)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
