// Soak run: polls the measured values of two simulated modules, one behind a pseudo-terminal
// and one behind a fake USB adapter, while their lines are pulled out and put back, and
// prints the process's memory, threads and open descriptors at intervals, each time with both
// lines in. Fails when any of them ends above what it was once the run had warmed up.
//
//   kvx_soak [SECONDS=600] [INTERVAL=10]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/faults/FaultRig.h"

namespace {

struct TSample {
  long RssKb = 0;
  std::size_t Threads = 0;
  std::size_t Descriptors = 0;
};

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::size_t Descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

TSample Sample() {
  return {RssKb(), ThreadCount(), Descriptors()};
}

}  // namespace

int main(int argc, char** argv) {
  using namespace std::chrono;
  const seconds total(argc > 1 ? std::atoi(argv[1]) : 600);
  const seconds interval(argc > 2 ? std::atoi(argv[2]) : 10);
  if (total < 3 * interval || interval.count() <= 0) {
    std::fprintf(stderr, "usage: kvx_soak [SECONDS] [INTERVAL], SECONDS at least 3 intervals\n");
    return 2;
  }
  TFaultRig rigs[] = {{TLine::Pty, KvxSimFactoryState(mtRS, 1)},
                      {TLine::Usb, KvxSimFactoryState(mtUSB, 2)}};
  const auto start = steady_clock::now();
  auto nextSample = start + interval;
  auto nextChange = start + seconds(3);
  long polls = 0, values = 0, changes = 0;
  bool pulled[2] = {false, false};
  TSample baseline;
  int samples = 0;
  TSample last;
  std::printf("%8s %8s %10s %8s %6s %12s\n", "time/s", "polls", "values", "changes", "RSS/kB",
              "threads fds");
  while (steady_clock::now() - start < total) {
    for (auto& rig : rigs) {
      ++polls;
      if (ReadMeasurements(rig.Channel).size() == 4 * kMeasuredBlockSize) ++values;
    }
    if (steady_clock::now() >= nextChange) {
      // Lines come and go in turn: pty out, adapter out, pty back, adapter back.
      const int which = static_cast<int>(changes % 2);
      if (pulled[which])
        rigs[which].Replug();
      else
        rigs[which].Pull();
      pulled[which] = !pulled[which];
      ++changes;
      nextChange += seconds(3);
    }
    // Samples are taken with every line plugged in, so that each sees the same channels.
    if (steady_clock::now() >= nextSample && !pulled[0] && !pulled[1]) {
      last = Sample();
      ++samples;
      // The first two intervals warm up (allocator pools, lazily made threads).
      if (samples <= 2) {
        baseline.RssKb = std::max(baseline.RssKb, last.RssKb);
        baseline.Threads = std::max(baseline.Threads, last.Threads);
        baseline.Descriptors = std::max(baseline.Descriptors, last.Descriptors);
      }
      std::printf(
          "%8lld %8ld %10ld %8ld %6ld %7zu %4zu\n",
          static_cast<long long>(duration_cast<seconds>(steady_clock::now() - start).count()),
          polls, values, changes, last.RssKb, last.Threads, last.Descriptors);
      std::fflush(stdout);
      nextSample = steady_clock::now() + interval;
    }
  }
  const long rssSlack = std::max(4096L, baseline.RssKb / 10);
  bool ok = values > 0 && changes > 0;
  if (values == 0) std::printf("FAIL: no measured values were read\n");
  if (last.RssKb > baseline.RssKb + rssSlack)
    ok = false,
    std::printf("FAIL: memory grew from %ld kB to %ld kB\n", baseline.RssKb, last.RssKb);
  if (last.Threads > baseline.Threads)
    ok = false, std::printf("FAIL: threads grew from %zu to %zu\n", baseline.Threads, last.Threads);
  if (last.Descriptors > baseline.Descriptors)
    ok = false,
    std::printf("FAIL: descriptors grew from %zu to %zu\n", baseline.Descriptors, last.Descriptors);
  std::printf("%s: %ld polls, %ld with values, %ld line changes\n", ok ? "PASS" : "FAIL", polls,
              values, changes);
  return ok ? 0 : 1;
}
