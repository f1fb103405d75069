// A full search of the main window over four COM ports on pseudo-terminals, two of them with
// a module at 9600 bit/s, against its floor: every pause the command set takes, the time limit
// of each check that no module answers, and the final one-second wait of the search. The time
// the bytes spend on the line comes on top of the floor. And how soon the window, measuring a
// module whose line the kernel hangs up, is back on the search page naming the port.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxPauseObserver.h"
#include "sim/uKvxSimModule.h"
#include "sim/uScriptedPeer.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TSearchRig {
  TSearchRig() {
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    for (int port = 201; port <= 204; ++port) {
      std::shared_ptr<ISimPeer> peer = std::make_shared<TScriptedPeer>();  // silent
      if (port % 2)
        peer = std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, port));  // 9600 bit/s
      Ptys.push_back(std::make_unique<TSimPty>(peer));
      map += Format("%d=%s;", port, Ptys.back()->SlavePath().c_str());
    }
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
  TPlainMainServices Services;
  std::unique_ptr<TFTDIManager> Manager;
  std::unique_ptr<TfMain> Form;
};

void BM_AppFullSearchFourPorts(benchmark::State& state) {
  TSearchRig rig;
  std::atomic<long> paused{0};
  const TKVXPauseObserver pauses([&paused](int ms) { paused += ms; });
  double total = 0, floor = 0;
  for (auto _ : state) {
    paused = 0;
    const auto start = Clock::now();
    rig.Form->ScanCIs();
    total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    // Two silent ports, each checked at two speeds until the time limit.
    floor += static_cast<double>(paused.load()) + 2 * 2 * kCheckTimeout + 1000;
    if (rig.Form->FoundChannels().size() != 2) state.SkipWithError("the two modules not found");
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["search_ms"] = total / iterations;
  state.counters["floor_ms"] = floor / iterations;
  state.counters["over_floor_ms"] = (total - floor) / iterations;
}
BENCHMARK(BM_AppFullSearchFourPorts)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_AppHangUpToSearchPageMessage(benchmark::State& state) {
  TSearchRig rig;
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

}  // namespace
