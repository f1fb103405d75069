// The COM port path over a pseudo-terminal at 115200 bit/s with the simulated module on the
// far side: how long Query takes to return after the last reply byte went onto the line, and
// what an open port that sees no traffic costs in CPU time.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <thread>

#include "comm/uci_ISerialPortInterface.h"
#include "protocol/uKVXInstructions.h"
#include "protocol/uTirmel97.h"
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

}  // namespace
