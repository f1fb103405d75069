// The address scan of one line over a pseudo-terminal against its floor. With no module behind
// it: the 254 module checks at each search speed, 254 x (the pause before a request, the
// request's time on the wire, the scan's first-reply limit). With three modules at 9600 bit/s
// (addresses 7, 12, 200): the 254 checks at 9600 alone (one line, one speed), plus each
// module's download, measured on its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/uModuleSearch.h"
#include "protocol/uTirmel97.h"
#include "sim/uKvxSimLine.h"
#include "sim/uKvxSimLineRig.h"
#include "sim/uSimPty.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddresses = kHighestModuleAddress + 1;
constexpr double kRequestBytes = 9;  // a request without data

double FloorMs(double Baud) {
  return kAddresses * (kTransactPause + kRequestBytes * 10 * 1000 / Baud + kScanCheckTimeout);
}

// A line, with nothing on it unless given, reached as COM201 the way the search reaches a port.
struct TSilentLine {
  explicit TSilentLine(std::shared_ptr<TKvxSimLine> Line = std::make_shared<TKvxSimLine>(
                           std::vector<std::shared_ptr<TKvxSimModule>>{}))
      : Pty(std::move(Line)) {
    setenv("KVX_COMPORTS", ("201=" + Pty.SlavePath()).c_str(), 1);
    Manager = std::make_unique<TFTDIManager>();
    TChannelListLock lock(*Manager);
    Manager->RebuildChannels();
    Manager->FindChannel("COM201", Channel);
  }
  ~TSilentLine() {
    Channel = nullptr;
    Manager.reset();
    unsetenv("KVX_COMPORTS");
  }
  TSimPty Pty;
  std::unique_ptr<TFTDIManager> Manager;
  TKVXChannel Channel;
};

// The mean time of a 0-253 scan of Channel, which must find Modules modules.
double MeanScanMs(benchmark::State& State, const TKVXChannel& Channel, std::size_t Modules) {
  TChannelTestSetup setup;
  for (int address = 0; address < kAddresses; ++address)
    setup.ScanAddresses.push_back(static_cast<std::uint8_t>(address));
  double total = 0;
  for (auto _ : State) {
    const auto start = Clock::now();
    const auto found = ScanChannelAddresses(Channel, setup, [](const std::string&, int) {});
    total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (found.size() != Modules) State.SkipWithError("not the modules of the line found");
  }
  return total / static_cast<double>(State.iterations());
}

void BM_AddressScanOfASilentLine(benchmark::State& State) {
  TSilentLine line;
  if (!line.Channel) {
    State.SkipWithError("COM201 not found");
    return;
  }
  const double mean = MeanScanMs(State, line.Channel, 0);
  // The scan asks at 9600 bit/s, then at 115200.
  const double floor = FloorMs(9600) + FloorMs(115200);
  State.counters["scan_ms"] = mean;
  State.counters["floor_9600_ms"] = FloorMs(9600);
  State.counters["floor_115200_ms"] = FloorMs(115200);
  State.counters["ratio"] = mean / floor;
}
BENCHMARK(BM_AddressScanOfASilentLine)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The module's download at its own address at 9600 bit/s, as the scan does it.
double DownloadMs(const TKVXChannel& Channel, std::uint8_t Address) {
  Channel->Open();
  Channel->SetConnectionString("baudrate=9600");
  TKVXrec rec;
  const auto start = Clock::now();
  struct TBound {
    TKVXChannel Channel;
    bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t To,
                  std::int32_t Timeout, std::string& Reply) {
      return ::Transact(Channel, Instruction, Data, To, Timeout, Reply);
    }
  } bound{Channel};
  KvxDownloadParams(rec, Bind<&TBound::Transact>(&bound), Address);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  Channel->Close(true);
  return ms;
}

void BM_AddressScanOfALineOfThree(benchmark::State& State) {
  TSilentLine line(MakeSimLineOfThree());
  if (!line.Channel) {
    State.SkipWithError("COM201 not found");
    return;
  }
  double downloads = 0;
  for (const std::uint8_t address : kSimLineAddresses)
    downloads += DownloadMs(line.Channel, address);
  const double mean = MeanScanMs(State, line.Channel, kSimLineAddresses.size());
  const double floor = FloorMs(9600) + downloads;
  State.counters["scan_ms"] = mean;
  State.counters["floor_ms"] = floor;
  State.counters["downloads_ms"] = downloads;
  State.counters["ratio"] = mean / floor;
}
BENCHMARK(BM_AddressScanOfALineOfThree)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
