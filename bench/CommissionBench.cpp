// kvxctl commission as a process at 9600 bit/s, one module per run (a range of one address, so
// the run ends with it), against its floor: what the procedure needs of the line done directly,
// the module's check and download, its settings written and read back, then its address
// written and everything read back at the new address.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxSimBench.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

constexpr int kModules = 3;
const char* const kTemplate =
    R"({"model": "VIROD", "serial": 1, "fields": {"ch1.name": "Kotel {n}", "ch1.unit": "kPa",
        "ch2.upper": 15, "ch4.hyst": 1}})";

// New RS modules at 9600 bit/s behind a bench port on COM211, every other port of the machine
// mapped to nothing; a template and an empty plant directory.
struct TCommissionRig {
  TCommissionRig() {
    std::vector<std::shared_ptr<TKvxSimModule>> modules;
    for (int serial = 601; serial < 601 + kModules; ++serial)
      modules.push_back(std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, serial)));
    Bench = std::make_shared<TKvxSimBench>(modules);
    Pty = std::make_unique<TSimPty>(Bench);
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    setenv("KVX_COMPORTS", (map + "211=" + Pty->SlavePath()).c_str(), 1);
    Dir = (std::filesystem::temp_directory_path() / "kvx_commission_bench_XXXXXX").string();
    if (!mkdtemp(Dir.data())) return;
    std::filesystem::create_directory(Dir + "/plant");
    std::ofstream(Dir + "/template.json") << kTemplate;
  }
  ~TCommissionRig() {
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
  std::shared_ptr<TKvxSimBench> Bench;
  std::unique_ptr<TSimPty> Pty;
  std::string Dir;
};

// One kvxctl commission of the module on the bench to Address; false when it failed (what
// failed is on the error output).
bool Commission(const TCommissionRig& Rig, int Address) {
  const std::string template_ = Rig.Dir + "/template.json", plant = Rig.Dir + "/plant",
                    range = std::to_string(Address);
  const pid_t child = fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(KVX_CTL, KVX_CTL, "commission", "COM211", "--addresses", range.c_str(), "--template",
          template_.c_str(), "--plant", plant.c_str(), "--speed", "9600",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct TBenchTransact {
  TKVXChannel Channel;
  bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                std::int32_t Timeout, std::string& Reply) {
    return ::Transact(Channel, Instruction, Data, Address, Timeout, Reply);
  }
};

// The procedure's exchanges alone on a fresh module at 9600 bit/s.
double FloorMs() {
  auto module = std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 699));
  TSimPty pty(module);
  setenv("KVX_COMPORTS", ("212=" + pty.SlavePath()).c_str(), 1);
  TFTDIManager manager;
  TKVXChannel channel;
  {
    TChannelListLock lock(manager);
    manager.RebuildChannels();
    manager.FindChannel("COM212", channel);
  }
  const auto start = Clock::now();
  channel->Open();
  channel->SetConnectionString("baudrate=9600");
  TBenchTransact bound{channel};
  const TKVXTransact transact = Bind<&TBenchTransact::Transact>(&bound);
  TKVXrec read, edited;
  // The first request after opening may meet a line not yet at its speed, as in a search.
  for (int attempt = 0; attempt < 3 && !CheckDevice(channel); ++attempt) {
  }
  KvxDownloadParams(read, transact);
  edited = read;
  edited.Setup[1].Name = PadRight("Kotel 1", kNameWidth);
  edited.Setup[1].Unit = PadRight("kPa", kUnitWidth);
  edited.Watch[2].UpperLimit = 15;
  edited.Watch[4].Hysteresis = 1;
  UploadChanges(channel, read, edited);
  KvxDownloadParams(read, transact);
  edited = read;
  edited.Ident.Address = 5;
  UploadChanges(channel, read, edited);
  KvxDownloadParams(read, transact, 5);
  const double floor = MsSince(start);
  channel->SetActive(false);
  return floor;
}

void BM_KvxctlCommissionPerModuleAt9600(benchmark::State& state) {
  for (auto _ : state) {
    double floor = 0;
    try {
      floor = FloorMs();
    } catch (const std::exception& error) {  // a machine too busy for the line's time limits
      state.SkipWithError(error.what());
      break;
    }
    TCommissionRig rig;
    double total = 0;
    for (int module = 0; module < kModules; ++module) {
      rig.Bench->Next();  // plugged in
      const auto start = Clock::now();
      if (!Commission(rig, 10 + module)) state.SkipWithError("a commissioning failed");
      total += MsSince(start);
      rig.Bench->Next();  // taken off
    }
    state.counters["floor_ms"] = floor;
    state.counters["module_ms"] = total / kModules;
    state.counters["module_to_floor"] = total / kModules / floor;
  }
}
BENCHMARK(BM_KvxctlCommissionPerModuleAt9600)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
