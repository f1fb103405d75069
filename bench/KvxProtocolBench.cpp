// A full download and one measurement poll against the simulated module on the in-process
// channel, each set against the floor the protocol itself imposes: the mandated pauses plus
// the reply bytes at the line speed (10 bits a byte). "ratio" is wall time over that floor.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "protocol/uKVXxxCommands.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxPauseObserver.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"

namespace {

using Clock = std::chrono::steady_clock;

// Passes everything through to the module and counts the bytes that come back.
class TCountingPeer : public ISimPeer {
 public:
  explicit TCountingPeer(std::shared_ptr<ISimPeer> Peer) : FPeer(std::move(Peer)) {}
  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override {
    FPeer->Write(bytes, baud, now);
  }
  std::string Read(Clock::time_point now) override {
    std::string bytes = FPeer->Read(now);
    FRead += bytes.size();
    return bytes;
  }
  std::size_t Available(Clock::time_point now) const override { return FPeer->Available(now); }
  std::optional<Clock::time_point> NextDue() const override { return FPeer->NextDue(); }
  std::size_t TakeCount() { return FRead.exchange(0); }

 private:
  std::shared_ptr<ISimPeer> FPeer;
  std::atomic<std::size_t> FRead{0};
};

struct TRig {
  explicit TRig(std::uint32_t baud) {
    TKvxSimState state = KvxSimFactoryState(mtRS);
    for (std::size_t code = 0; code < kSpeedCodes.size(); ++code)
      if (kSpeedCodes[code] == baud) state.SpeedCode = static_cast<std::uint8_t>(code);
    Peer = std::make_shared<TCountingPeer>(std::make_shared<TKvxSimModule>(state));
    Channel = Create<TInProcessChannel>("SIM1", Peer, "baudrate=" + std::to_string(baud));
    Channel->Open();
  }

  std::shared_ptr<TCountingPeer> Peer;
  TKVXChannel Channel;
  double PausedMs = 0;
  TKVXPauseObserver Pauses{[this](int ms) { PausedMs += ms; }};
};

// Runs one sequence per iteration and reports wall time against the floor.
template <class Sequence>
void Measure(benchmark::State& state, Sequence sequence) {
  const auto baud = static_cast<std::uint32_t>(state.range(0));
  TRig rig(baud);
  double wallMs = 0;
  double floorMs = 0;
  for (auto _ : state) {
    rig.PausedMs = 0;
    rig.Peer->TakeCount();
    const Clock::time_point start = Clock::now();
    sequence(rig);
    wallMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    floorMs += rig.PausedMs + rig.Peer->TakeCount() * 10 * 1000.0 / baud;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["floor_ms"] = floorMs / iterations;
  state.counters["wall_ms"] = wallMs / iterations;
  state.counters["ratio"] = wallMs / floorMs;
}

void BM_Download(benchmark::State& state) {
  Measure(state, [&](TRig& rig) {
    TKVXChannelTransactor transactor(rig.Channel);
    TKVXrec rec;
    if (!KvxDownloadParams(rec, transactor.Method())) state.SkipWithError("download failed");
  });
}

void BM_MeasurementPoll(benchmark::State& state) {
  Measure(state, [&](TRig& rig) {
    if (ReadMeasurements(rig.Channel).size() != 4 * kMeasuredBlockSize)
      state.SkipWithError("no measured values");
  });
}

BENCHMARK(BM_Download)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MeasurementPoll)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
