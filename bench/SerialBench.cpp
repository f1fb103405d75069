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
constexpr int BenchComNumber = 190;

struct TPtyRig {
  TPtyRig() {
    TKvxSimState State = KvxSimFactoryState(mtUSB, 1);
    State.SpeedCode = 10;  // 115200 bit/s
    Module = std::make_shared<TKvxSimModule>(State);
    Pty = std::make_unique<TSimPty>(Module);
    setenv("KVX_COMPORTS", (std::to_string(BenchComNumber) + "=" + Pty->SlavePath()).c_str(), 1);
    Channel = Create<TSerialPortInterface>("comport=" + std::to_string(BenchComNumber) +
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

double ProcessCpuSeconds() {
  timespec T;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return T.tv_sec + T.tv_nsec / 1e9;
}

void BM_QueryReturnAfterLastReplyByte(benchmark::State& State) {
  TPtyRig Rig;
  if (!Rig.Channel->Open()) {
    State.SkipWithError("the pty port did not open");
    return;
  }
  const std::string Request = BuildFrame(kUniversalAddress, 0, kiReadType, {});
  auto IsComplete = [](const std::string& Reply) {
    return static_cast<std::uint16_t>(ValidateFrame(Reply));
  };
  double TotalMs = 0, WorstMs = 0;
  std::int64_t Answered = 0;
  for (auto _ : State) {
    std::string Reply;
    Rig.Channel->Query(Request, 250, Reply, IsComplete);
    auto Returned = Clock::now();
    if (ValidateFrame(Reply) != 0) continue;
    double Ms =
        std::chrono::duration<double, std::milli>(Returned - Rig.Pty->LastReplyByteAt()).count();
    TotalMs += Ms;
    WorstMs = std::max(WorstMs, Ms);
    ++Answered;
  }
  if (Answered == 0) {
    State.SkipWithError("the module never answered");
    return;
  }
  State.counters["after_last_byte_ms"] = TotalMs / Answered;
  State.counters["worst_ms"] = WorstMs;
  State.counters["answered"] = static_cast<double>(Answered);
}
BENCHMARK(BM_QueryReturnAfterLastReplyByte)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_IdleOpenPortCpu(benchmark::State& State) {
  TPtyRig Rig;
  if (!Rig.Channel->Open()) {
    State.SkipWithError("the pty port did not open");
    return;
  }
  auto CpuPercent = [] {
    double Cpu0 = ProcessCpuSeconds();
    auto Wall0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double Cpu = ProcessCpuSeconds() - Cpu0;
    return 100.0 * Cpu / std::chrono::duration<double>(Clock::now() - Wall0).count();
  };
  double Open = 0, Closed = 0;
  for (auto _ : State) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the threads settle
    Open = CpuPercent();
    Rig.Channel->Close(true);
    Closed = CpuPercent();  // what the simulator's pty thread costs on its own
  }
  State.counters["open_port_cpu_percent"] = Open - Closed;
  State.counters["simulator_cpu_percent"] = Closed;
}
BENCHMARK(BM_IdleOpenPortCpu)->Unit(benchmark::kMillisecond)->Iterations(1);

// The kernel's hang-up of the pty's slave side (needs root); false when refused.
bool HangUp(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Done = ::ioctl(Fd, TIOCVHANGUP) == 0;
  ::close(Fd);
  return Done;
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
  TPumpedMainThread Main;
  double TotalMs = 0, WorstMs = 0;
  std::int64_t Closed = 0;
  for (auto _ : State) {
    TPtyRig Rig;
    TClosedFlag Flag;
    Rig.Channel->GetClosedEvents().Add(TCiNotify::Bind<&TClosedFlag::OnClosed>(&Flag));
    if (!Rig.Channel->Open()) {
      State.SkipWithError("the pty port did not open");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the threads settle
    const auto Start = Clock::now();
    if (!HangUp(Rig.Pty->SlavePath())) {
      State.SkipWithError("the kernel refused the hang-up (not root?)");
      return;
    }
    const auto Limit = Start + std::chrono::seconds(5);
    while (!Flag.Closed && Clock::now() < Limit) Main.Plain->PumpFor(std::chrono::milliseconds(1));
    if (!Flag.Closed) continue;
    const double Ms = std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
    TotalMs += Ms;
    WorstMs = std::max(WorstMs, Ms);
    ++Closed;
  }
  if (Closed == 0) {
    State.SkipWithError("no hang-up was ever reported");
    return;
  }
  State.counters["hangup_to_closed_ms"] = TotalMs / Closed;
  State.counters["worst_ms"] = WorstMs;
  State.counters["closed"] = static_cast<double>(Closed);
}
BENCHMARK(BM_HangUpToClosedNotification)->Unit(benchmark::kMillisecond)->Iterations(20);

// The worst case: nobody handles the port's events, so the hung-up port is never closed.
void BM_HungUpPortCpuOverTenSeconds(benchmark::State& State) {
  TPumpedMainThread Main;
  double CpuMs = 0, SimulatorCpuMs = 0;
  for (auto _ : State) {
    TPtyRig Rig;
    if (!Rig.Channel->Open()) {
      State.SkipWithError("the pty port did not open");
      return;
    }
    if (!HangUp(Rig.Pty->SlavePath())) {
      State.SkipWithError("the kernel refused the hang-up (not root?)");
      return;
    }
    const double Cpu0 = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    CpuMs = 1000 * (ProcessCpuSeconds() - Cpu0);
    Main.Plain->ProcessPending();  // now it closes
    Rig.Channel->Close(true);
    const double Cpu1 = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    SimulatorCpuMs = 1000 * (ProcessCpuSeconds() - Cpu1);  // the simulator's pty thread alone
  }
  State.counters["hung_up_port_cpu_ms_per_10s"] = CpuMs - SimulatorCpuMs;
  State.counters["simulator_cpu_ms_per_10s"] = SimulatorCpuMs;
}
BENCHMARK(BM_HungUpPortCpuOverTenSeconds)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
