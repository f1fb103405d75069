// kvxctl serve as a process over 100 simulated modules on 10 shared lines at a period of 1 s,
// the lines at 9600 bit/s (full: a round takes longer than the period) and at 115200 bit/s:
// each line's round of reads against the floor of its value transactions (the pause before each
// and its bytes on the wire, or the period when they fit in it), the service's CPU and memory,
// a scrape's time, and how long the service takes to end when asked to.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxSimLine.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "tests/service/ServeRig.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 10;
constexpr int kModulesPerLine = 10;
constexpr int kFirstPort = 201;
constexpr std::uint16_t kListenPort = 19732;
// A read of the measured values: its request and its reply of four 18-byte blocks, 10 bits a
// character, after the pause before every exchange and the module's turnaround.
constexpr double kRequestBytes = 10;
constexpr double kReplyBytes = 9 + 4 * 18;
double TransactionFloorSeconds(double Baud) {
  return kTransactPause / 1000.0 + 0.003 + (kRequestBytes + kReplyBytes) * 10 / Baud;
}

struct TLines {
  explicit TLines(std::uint8_t SpeedCode) {
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    for (int line = 0; line < kLines; ++line) {
      std::vector<std::shared_ptr<TKvxSimModule>> modules;
      for (int address = 1; address <= kModulesPerLine; ++address) {
        TKvxSimState state = KvxSimFactoryState(mtRS, line * 100 + address);
        state.Address = address;
        state.SpeedCode = SpeedCode;
        modules.push_back(std::make_shared<TKvxSimModule>(state));
      }
      Ptys.push_back(std::make_unique<TSimPty>(std::make_shared<TKvxSimLine>(modules)));
      map += Format("%d=%s;", kFirstPort + line, Ptys.back()->SlavePath().c_str());
    }
    setenv("KVX_COMPORTS", map.c_str(), 1);
  }
  std::vector<std::unique_ptr<TSimPty>> Ptys;
};

// The value of each sample of Family in Metrics.
std::vector<double> Samples(const std::string& Metrics, const std::string& Family) {
  std::vector<double> values;
  std::istringstream lines(Metrics);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(Family + "{")) values.push_back(std::stod(line.substr(line.rfind(' '))));
  return values;
}

double CpuSeconds(pid_t Pid) {
  std::ifstream stat("/proc/" + std::to_string(Pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
  // utime and stime are the 14th and 15th fields; the first two are before the ')'.
  return (std::stod(words[11]) + std::stod(words[12])) / sysconf(_SC_CLK_TCK);
}

double ResidentMegabytes(pid_t Pid) {
  std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024;
  return 0;
}

void BM_ServeHundredModulesOnTenLines(benchmark::State& state) {
  const auto speedCode = static_cast<std::uint8_t>(state.range(0));
  const TLines lines(speedCode);
  const pid_t child = fork();
  if (child == 0) {
    const std::string listen = "127.0.0.1:" + std::to_string(kListenPort);
    execl(KVX_CTL, KVX_CTL, "serve", "--addresses", "1-10", "--listen", listen.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto upCount = [] {
    const std::vector<double> up = Samples(HttpGet(kListenPort, "/metrics"), "kvx_module_up");
    return std::count(up.begin(), up.end(), 1.0);
  };
  const auto deadline = Clock::now() + std::chrono::minutes(3);
  while (upCount() < kLines * kModulesPerLine && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (upCount() < kLines * kModulesPerLine) state.SkipWithError("not every module was served");
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the rounds after the search settle
    const double cpuStart = CpuSeconds(child);
    const auto start = Clock::now();
    double worstScrape = 0;
    std::vector<double> cycles;
    while (Clock::now() - start < std::chrono::seconds(20)) {
      const auto scrapeStart = Clock::now();
      const std::string metrics = HttpGet(kListenPort, "/metrics");
      worstScrape =
          std::max(worstScrape,
                   std::chrono::duration<double, std::milli>(Clock::now() - scrapeStart).count());
      for (const double cycle : Samples(metrics, "kvx_line_cycle_seconds")) cycles.push_back(cycle);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double floor =
        std::max(1.0, kModulesPerLine * TransactionFloorSeconds(kSpeedCodes[speedCode]));
    state.counters["line_floor_s"] = floor;
    state.counters["cycle_mean_to_floor"] =
        cycles.empty() ? 0
                       : std::accumulate(cycles.begin(), cycles.end(), 0.0) / cycles.size() / floor;
    state.counters["cycle_worst_to_floor"] =
        cycles.empty() ? 0 : *std::max_element(cycles.begin(), cycles.end()) / floor;
    state.counters["cpu_percent"] = 100 * (CpuSeconds(child) - cpuStart) / wall;
    state.counters["memory_mb"] = ResidentMegabytes(child);
    state.counters["scrape_worst_ms"] = worstScrape;
  }
  // Ended with every port given back within 300 ms.
  const auto stopStart = Clock::now();
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  state.counters["stop_ms"] =
      std::chrono::duration<double, std::milli>(Clock::now() - stopStart).count();
}
BENCHMARK(BM_ServeHundredModulesOnTenLines)
    ->Arg(6)   // 9600 bit/s
    ->Arg(10)  // 115200 bit/s
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
