// The COM port path over a pseudo-terminal at 115200 bit/s with the simulated module on the
// far side: how long Query takes to return after the last reply byte went onto the line, what
// an open port that sees no traffic costs in CPU time, how soon the kernel's hang-up of the
// line reaches the channel's closed notification, and what a hung-up port costs afterwards.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "comm/uci_ISerialPortInterface.h"
#include "protocol/uKVXInstructions.h"
#include "protocol/uTirmel97.h"
#include "serial/AfSafeSync.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBenchComNumber = 190;

struct TPtyRig {
  TPtyRig() {
    TKvxSimState state = KvxSimFactoryState(mtUSB, 1);
    state.SpeedCode = 10;  // 115200 bit/s
    Module = std::make_shared<TKvxSimModule>(state);
    Pty = std::make_unique<TSimPty>(Module);
    setenv("KVX_COMPORTS", (std::to_string(kBenchComNumber) + "=" + Pty->SlavePath()).c_str(), 1);
    Channel = Create<TSerialPortInterface>("comport=" + std::to_string(kBenchComNumber) +
                                           ";baudrate=115200");
  }
  ~TPtyRig() {
    Channel.Reset();
    unsetenv("KVX_COMPORTS");
  }
  std::shared_ptr<TKvxSimModule> Module;
  std::unique_ptr<TSimPty> Pty;
  TIntfPtr<TSerialPortInterface> Channel;
};

// The times of the iterations that counted: their mean and the worst go into the counters.
class TLatencies {
 public:
  void Add(double Ms) {
    FTotalMs += Ms;
    FWorstMs = std::max(FWorstMs, Ms);
    ++FCount;
  }
  void Report(benchmark::State& State, const char* MeanCounter, const char* CountCounter,
              const char* NoneCounted) const {
    if (FCount == 0) {
      State.SkipWithError(NoneCounted);
      return;
    }
    State.counters[MeanCounter] = FTotalMs / static_cast<double>(FCount);
    State.counters["worst_ms"] = FWorstMs;
    State.counters[CountCounter] = static_cast<double>(FCount);
  }

 private:
  double FTotalMs = 0;
  double FWorstMs = 0;
  std::int64_t FCount = 0;
};

double ProcessCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_QueryReturnAfterLastReplyByte(benchmark::State& State) {
  TPtyRig rig;
  if (!rig.Channel->Open()) {
    State.SkipWithError("the pty port did not open");
    return;
  }
  const std::string request = BuildFrame(kUniversalAddress, 0, kiReadType, {});
  auto isComplete = [](const std::string& reply) {
    return static_cast<std::uint16_t>(ValidateFrame(reply));
  };
  TLatencies answered;
  for (auto _ : State) {
    std::string reply;
    rig.Channel->Query(request, 250, reply, isComplete);
    const auto returned = Clock::now();
    if (ValidateFrame(reply) != 0) continue;
    answered.Add(
        std::chrono::duration<double, std::milli>(returned - rig.Pty->LastReplyByteAt()).count());
  }
  answered.Report(State, "after_last_byte_ms", "answered", "the module never answered");
}
BENCHMARK(BM_QueryReturnAfterLastReplyByte)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_IdleOpenPortCpu(benchmark::State& State) {
  TPtyRig rig;
  if (!rig.Channel->Open()) {
    State.SkipWithError("the pty port did not open");
    return;
  }
  auto cpuPercent = [] {
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    return 100.0 * cpu / std::chrono::duration<double>(Clock::now() - wallBefore).count();
  };
  double open = 0, closed = 0;
  for (auto _ : State) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the threads settle
    open = cpuPercent();
    rig.Channel->Close(true);
    closed = cpuPercent();  // what the simulator's pty thread costs on its own
  }
  State.counters["open_port_cpu_percent"] = open - closed;
  State.counters["simulator_cpu_percent"] = closed;
}
BENCHMARK(BM_IdleOpenPortCpu)->Unit(benchmark::kMillisecond)->Iterations(1);

// The kernel's hang-up of the pty's slave side (needs root); false when refused.
bool HangUp(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool done = ::ioctl(fd, TIOCVHANGUP) == 0;
  ::close(fd);
  return done;
}

struct TClosedFlag {
  std::atomic<bool> Closed{false};
  void OnClosed(const TIntfPtr<ICommunicationInterface>&) { Closed = true; }
};

// This thread pumps the port events, as the window's event loop does.
struct TPumpedMainThread {
  TPumpedMainThread() : Previous(AfMainThreadDispatcher()) { SetAfMainThreadDispatcher(Plain); }
  ~TPumpedMainThread() {
    Plain->ProcessPending();
    SetAfMainThreadDispatcher(Previous);
  }
  std::shared_ptr<TAfPlainDispatcher> Plain = std::make_shared<TAfPlainDispatcher>();
  std::shared_ptr<IAfMainThreadDispatcher> Previous;
};

void BM_HangUpToClosedNotification(benchmark::State& State) {
  TPumpedMainThread mainThread;
  TLatencies closed;
  for (auto _ : State) {
    TPtyRig rig;
    TClosedFlag flag;
    rig.Channel->GetClosedEvents().Add(TCiNotify::Bind<&TClosedFlag::OnClosed>(&flag));
    if (!rig.Channel->Open()) {
      State.SkipWithError("the pty port did not open");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the threads settle
    const auto start = Clock::now();
    if (!HangUp(rig.Pty->SlavePath())) {
      State.SkipWithError("the kernel refused the hang-up (not root?)");
      return;
    }
    const auto limit = start + std::chrono::seconds(5);
    while (!flag.Closed && Clock::now() < limit)
      mainThread.Plain->PumpFor(std::chrono::milliseconds(1));
    if (!flag.Closed) continue;
    closed.Add(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  closed.Report(State, "hangup_to_closed_ms", "closed", "no hang-up was ever reported");
}
BENCHMARK(BM_HangUpToClosedNotification)->Unit(benchmark::kMillisecond)->Iterations(20);

// The worst case: nobody handles the port's events, so the hung-up port is never closed.
void BM_HungUpPortCpuOverTenSeconds(benchmark::State& State) {
  TPumpedMainThread mainThread;
  double cpuMs = 0, simulatorCpuMs = 0;
  for (auto _ : State) {
    TPtyRig rig;
    if (!rig.Channel->Open()) {
      State.SkipWithError("the pty port did not open");
      return;
    }
    if (!HangUp(rig.Pty->SlavePath())) {
      State.SkipWithError("the kernel refused the hang-up (not root?)");
      return;
    }
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    cpuMs = 1000 * (ProcessCpuSeconds() - cpuBefore);
    mainThread.Plain->ProcessPending();  // now it closes
    rig.Channel->Close(true);
    const double cpuClosed = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    simulatorCpuMs = 1000 * (ProcessCpuSeconds() - cpuClosed);  // the simulator's pty thread alone
  }
  State.counters["hung_up_port_cpu_ms_per_10s"] = cpuMs - simulatorCpuMs;
  State.counters["simulator_cpu_ms_per_10s"] = simulatorCpuMs;
}
BENCHMARK(BM_HungUpPortCpuOverTenSeconds)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
