// kvxctl audit as a process over two modules on two ports against one module on one port: the
// channels are searched and read at once, so the second module should cost little. Each is
// also set against its floor, the connection test (check and download) of one module alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/uModuleSearch.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

// Modules at 9600 bit/s on COM201 onwards, every other port of the machine mapped to nothing;
// an empty directory for their backups.
struct TAuditRig {
  explicit TAuditRig(int Modules) {
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    for (int port = 201; port < 201 + Modules; ++port) {
      Ptys.push_back(std::make_unique<TSimPty>(
          std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, port))));
      map += Format("%d=%s;", port, Ptys.back()->SlavePath().c_str());
    }
    setenv("KVX_COMPORTS", map.c_str(), 1);
    Dir = (std::filesystem::temp_directory_path() / "kvx_audit_bench_XXXXXX").string();
    if (!mkdtemp(Dir.data())) Dir.clear();
  }
  ~TAuditRig() {
    std::error_code ignored;
    if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
  }
  std::vector<std::unique_ptr<TSimPty>> Ptys;
  std::string Dir;
};

// One kvxctl audit of Dir; false when it failed.
bool Audit(const std::string& Dir) {
  const pid_t child = fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(KVX_CTL, KVX_CTL, "audit", Dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The mean time of an audit of Modules modules that all match their files.
double AuditMs(int Modules, benchmark::State& State, int Runs) {
  TAuditRig rig(Modules);
  if (rig.Dir.empty() || !Audit(rig.Dir)) State.SkipWithError("the first audit failed");
  double total = 0;
  for (int run = 0; run < Runs; ++run) {
    const auto start = Clock::now();
    if (!Audit(rig.Dir)) State.SkipWithError("an audit failed");
    total += MsSince(start);
  }
  return total / Runs;
}

double FloorMs() {
  TAuditRig rig(1);
  TFTDIManager manager;
  TKVXChannel channel;
  {
    TChannelListLock lock(manager);
    manager.RebuildChannels();
    manager.FindChannel("COM201", channel);
  }
  const auto start = Clock::now();
  TKVXrec rec;
  TestChannelForModule(channel, rec, false, {}, [](const std::string&, int) {});
  return MsSince(start);
}

void BM_KvxctlAuditTwoPortsAgainstOne(benchmark::State& state) {
  constexpr int kRuns = 3;
  for (auto _ : state) {
    const double floor = FloorMs();
    const double one = AuditMs(1, state, kRuns);
    const double two = AuditMs(2, state, kRuns);
    state.counters["floor_ms"] = floor;
    state.counters["one_ms"] = one;
    state.counters["two_ms"] = two;
    state.counters["one_to_floor"] = one / floor;
    state.counters["two_to_one"] = two / one;
  }
}
BENCHMARK(BM_KvxctlAuditTwoPortsAgainstOne)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
