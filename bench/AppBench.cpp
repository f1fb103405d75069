// The search of the main window over one module on a pseudo-terminal and N ports with nothing
// behind them, as a ratio to the search of the module alone: the channels are tested at once, so
// silent ports should cost little. How soon "Zrušit" ends a search. `kvxctl search` for one
// module against its floor, the module's check and download alone. And how soon the window,
// measuring a module whose line the kernel hangs up, is back on the search page naming the port.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxSimModule.h"
#include "sim/uScriptedPeer.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "tests/net/TestServer.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

// Plain services that let a bench act while the search lets the window handle its events.
class TBenchServices : public TPlainMainServices {
 public:
  std::function<void()> WhileBusy;
  void ProcessMessages() override {
    TPlainMainServices::ProcessMessages();
    if (WhileBusy) WhileBusy();
  }
};

// A module at 9600 bit/s (or Speed) on COM201, then Silent ports with nothing behind them.
struct TSearchRig {
  explicit TSearchRig(int Silent, std::uint8_t SpeedCode = 6, const std::string& Extra = {}) {
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    for (int port = 201; port <= 201 + Silent; ++port) {
      std::shared_ptr<ISimPeer> peer = std::make_shared<TScriptedPeer>();
      if (port == 201) {
        TKvxSimState state = KvxSimFactoryState(mtRS, port);
        state.SpeedCode = SpeedCode;
        peer = std::make_shared<TKvxSimModule>(state);
      }
      Ptys.push_back(std::make_unique<TSimPty>(peer));
      map += Format("%d=%s;", port, Ptys.back()->SlavePath().c_str());
    }
    if (!Extra.empty()) map += Extra;
    setenv("KVX_COMPORTS", map.c_str(), 1);
    Manager = std::make_unique<TFTDIManager>();
    Form = std::make_unique<TfMain>(*Manager, Services, std::vector<std::string>{});
  }
  ~TSearchRig() {
    Form.reset();
    Manager.reset();
    Ptys.clear();
    unsetenv("KVX_COMPORTS");
  }
  std::vector<std::unique_ptr<TSimPty>> Ptys;
  TBenchServices Services;
  std::unique_ptr<TFTDIManager> Manager;
  std::unique_ptr<TfMain> Form;
};

// The mean time of a search with Silent empty ports beside the module.
double SearchMs(int Silent, int Runs, benchmark::State& State) {
  TSearchRig rig(Silent);
  double total = 0;
  for (int run = 0; run < Runs; ++run) {
    const auto start = Clock::now();
    rig.Form->ScanCIs();
    total += MsSince(start);
    if (rig.Form->FoundChannels().size() != 1) State.SkipWithError("the module was not found");
  }
  return total / Runs;
}

void BM_AppSearchSilentPortsRatio(benchmark::State& state) {
  for (auto _ : state) {
    const double alone = SearchMs(0, 3, state);
    state.counters["alone_ms"] = alone;
    for (int silent : {1, 4, 16, 64})
      state.counters[Format("ratio_%02d", silent)] = SearchMs(silent, 2, state) / alone;
  }
}
BENCHMARK(BM_AppSearchSilentPortsRatio)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// From "Zrušit", pressed while every channel is under test, to the search page.
void BM_AppSearchCancel(benchmark::State& state) {
  TSearchRig rig(16);
  double total = 0, worst = 0;
  for (auto _ : state) {
    Clock::time_point pressed;
    rig.Services.WhileBusy = [&] {
      if (pressed != Clock::time_point()) return;
      pressed = Clock::now();
      rig.Form->Element("sCancelSearch").Click();
    };
    rig.Form->ScanCIs();
    rig.Services.WhileBusy = {};
    const double ms = MsSince(pressed);
    total += ms;
    worst = std::max(worst, ms);
  }
  state.counters["cancel_ms"] = total / static_cast<double>(state.iterations());
  state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_AppSearchCancel)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// kvxctl search as a process against the module's connection test alone (check and download).
void BM_KvxctlSearchOneModule(benchmark::State& state) {
  TSearchRig rig(0);
  double total = 0, floor = 0;
  for (auto _ : state) {
    TKVXChannel channel;
    {
      TChannelListLock lock(*rig.Manager);
      rig.Manager->RebuildChannels();
      rig.Manager->FindChannel("COM201", channel);
    }
    auto start = Clock::now();
    TKVXrec rec;
    const bool found =
        TestChannelForModule(channel, rec, false, {}, [](const std::string&, int) {}).Found;
    floor += MsSince(start);
    if (!found) state.SkipWithError("the module did not answer");

    start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(KVX_CTL, KVX_CTL, "search", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    total += MsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("kvxctl search failed");
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["kvxctl_ms"] = total / iterations;
  state.counters["floor_ms"] = floor / iterations;
  state.counters["ratio"] = total / floor;
}
BENCHMARK(BM_KvxctlSearchOneModule)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_AppHangUpToSearchPageMessage(benchmark::State& state) {
  TSearchRig rig(3);
  rig.Form->FormShow();
  double total = 0, worst = 0;
  for (auto _ : state) {
    TKVXChannel channel;
    rig.Manager->RebuildChannels();
    rig.Manager->FindChannel("COM201", channel);
    rig.Form->Connect(channel);
    if (!rig.Form->CurrentChannel()) {
      state.SkipWithError("the module did not connect");
      return;
    }
    const int fd = ::open(rig.Ptys[0]->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const auto start = Clock::now();
    const bool hungUp = fd >= 0 && ::ioctl(fd, TIOCVHANGUP) == 0;
    if (fd >= 0) ::close(fd);
    if (!hungUp) {
      state.SkipWithError("the kernel refused the hang-up (not root?)");
      return;
    }
    // The window's event loop: port events and device changes as they come.
    while (rig.Form->ChannelGone().empty() && Clock::now() - start < std::chrono::seconds(5))
      rig.Services.ProcessMessages();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    total += ms;
    worst = std::max(worst, ms);
  }
  state.counters["hangup_to_message_ms"] = total / static_cast<double>(state.iterations());
  state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_AppHangUpToSearchPageMessage)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// kvxctl show of a module at 115200 bit/s, run a second time (the first run kept the speed
// that answered in the state folder), against its floor: the module's check at 115200 and its
// download, in this process with the speed known.
void BM_KvxctlShowSecondRun(benchmark::State& state) {
  constexpr std::uint8_t k115200 = 10;
  TSearchRig rig(0, k115200);
  const std::string folder = (std::filesystem::temp_directory_path() / "kvx_bench_state").string();
  std::filesystem::remove_all(folder);
  setenv("XDG_STATE_HOME", folder.c_str(), 1);
  const auto show = [] {
    const pid_t child = fork();
    if (child == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(KVX_CTL, KVX_CTL, "show", "COM201", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  double first = 0, total = 0, floor = 0;
  for (auto _ : state) {
    std::filesystem::remove_all(folder);
    auto start = Clock::now();
    if (!show()) state.SkipWithError("kvxctl show failed");
    first += MsSince(start);
    start = Clock::now();
    if (!show()) state.SkipWithError("kvxctl show failed");
    total += MsSince(start);
    TKVXChannel channel;
    {
      TChannelListLock lock(*rig.Manager);
      rig.Manager->RebuildChannels();
      rig.Manager->FindChannel("COM201", channel);
    }
    TSpeedMemory speeds;
    speeds.Answered("COM201", "baudrate=115200");
    TChannelTestSetup setup;
    setup.Speeds = &speeds;
    TKVXrec rec;
    start = Clock::now();
    if (!TestChannelForModule(channel, rec, false, setup, [](const std::string&, int) {}).Found)
      state.SkipWithError("the module did not answer");
    floor += MsSince(start);
  }
  unsetenv("XDG_STATE_HOME");
  std::filesystem::remove_all(folder);
  const double iterations = static_cast<double>(state.iterations());
  state.counters["first_run_ms"] = first / iterations;
  state.counters["second_run_ms"] = total / iterations;
  state.counters["floor_ms"] = floor / iterations;
  state.counters["ratio"] = total / floor;
}
BENCHMARK(BM_KvxctlShowSecondRun)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// From "Zrušit", or from closing the window, while the search waits on a device server that
// takes no connection (the connect would wait two seconds), to the search page.
void BM_AppSearchCancelDuringConnect(benchmark::State& state) {
  for (const bool closing : {false, true}) {
    const TFullListener server;
    TSearchRig rig(0, 6, Format("150=rfc2217://127.0.0.1:%d;", server.Port()));
    double total = 0, worst = 0;
    int runs = 0;
    for (int run = 0; run < 5; ++run) {
      Clock::time_point pressed;
      const auto started = Clock::now();
      rig.Services.WhileBusy = [&] {
        // Once the connect is surely under way.
        if (pressed != Clock::time_point() || Clock::now() - started < std::chrono::milliseconds(200))
          return;
        pressed = Clock::now();
        closing ? rig.Form->FormClose() : rig.Form->Element("sCancelSearch").Click();
      };
      rig.Form->ScanCIs();
      rig.Services.WhileBusy = {};
      if (pressed == Clock::time_point()) continue;
      const double ms = MsSince(pressed);
      total += ms;
      worst = std::max(worst, ms);
      ++runs;
      if (closing) break;  // a closed window searches no more
    }
    const std::string name = closing ? "close" : "cancel";
    state.counters[name + "_ms"] = runs ? total / runs : -1;
    state.counters[name + "_worst_ms"] = worst;
  }
  for (auto _ : state) {
  }
}
BENCHMARK(BM_AppSearchCancelDuringConnect)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
