// Connecting to a module (check and download) through ser2net over RFC 2217 on this machine,
// as a ratio to the same connect on the pseudo-terminal the server serves, both at the
// module's 9600 bit/s. Skipped when ser2net is not installed.
// A search with one module and two device server entries by host name behind a name server
// that never answers, as a ratio to the search with the module alone.
// A search over one device server that negotiates a second late, as a ratio to the same search
// over a server that never answers.
// A connection whose link stalls for five seconds, and how long a dead link takes to be
// noticed, busy and idle.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "app/uMain.h"
#include "net/uci_SerialServer.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "tests/net/HostileServer.h"
#include "tests/net/Ser2net.h"
#include "tests/net/SilentNameServer.h"
#include "tests/net/StalledLink.h"
#include "tests/net/TestServer.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;

// Port entries that hide every kernel port, so a search sees only the channels a benchmark adds.
std::string NoKernelPorts() {
  std::string map;
  for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
  return map;
}

// Mean milliseconds of two measured cases and the ratio of the second to the first.
void ReportPair(benchmark::State& State, const char* FirstName, double FirstTotal,
                const char* SecondName, double SecondTotal) {
  const double iterations = static_cast<double>(State.iterations());
  State.counters[FirstName] = FirstTotal / iterations;
  State.counters[SecondName] = SecondTotal / iterations;
  State.counters["ratio"] = FirstTotal > 0 ? SecondTotal / FirstTotal : 0;
}

// Milliseconds of one connect to the channel named Port, or a negative value when it failed.
double ConnectMs(TfMain& Form, TFTDIManager& Manager, const char* Port) {
  TKVXChannel channel;
  {
    TChannelListLock lock(Manager);
    Manager.RebuildChannels();
    Manager.FindChannel(Port, channel);
  }
  if (!channel) return -1;
  const auto start = Clock::now();
  Form.Connect(channel);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const bool connected = Form.ReadCopy().Setup[1].Channel == 1;
  Form.Connect(nullptr);
  return connected ? ms : -1;
}

// One timed case on a window over the ports of KVX_COMPORTS: milliseconds, or a negative value
// when it failed.
using TTimedCase = std::function<double(TfMain& Form, TFTDIManager& Manager)>;

// Times First and Second once each per iteration, on one window, and reports both and their
// ratio; the port entries are dropped afterwards.
void TimePair(benchmark::State& State, const char* FirstName, const TTimedCase& First,
              const char* SecondName, const TTimedCase& Second) {
  double first = 0, second = 0;
  {
    TFTDIManager manager;
    TPlainMainServices services;
    TfMain form(manager, services, {});
    for (auto _ : State) {
      const double firstMs = First(form, manager);
      const double secondMs = Second(form, manager);
      if (firstMs < 0 || secondMs < 0) {
        State.SkipWithError("a timed case failed");
        break;
      }
      first += firstMs;
      second += secondMs;
    }
  }
  unsetenv("KVX_COMPORTS");
  ReportPair(State, FirstName, first, SecondName, second);
}

void BM_ConnectOverRfc2217VersusPty(benchmark::State& state) {
  if (TSer2net::Program().empty()) {
    state.SkipWithError("ser2net is not installed");
    return;
  }
  // The pty of COM201 is opened directly; COM202 reaches a second module through ser2net.
  TSimPty direct(std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 201)));
  TSimPty served(std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 202)));
  TSer2net server(served.SlavePath(), true);
  std::string map = NoKernelPorts();
  map += "201=" + direct.SlavePath() + ";202=" + server.Url();
  setenv("KVX_COMPORTS", map.c_str(), 1);
  TimePair(
      state, "pty_ms",
      [](TfMain& Form, TFTDIManager& Manager) { return ConnectMs(Form, Manager, "COM201"); },
      "rfc2217_ms",
      [](TfMain& Form, TFTDIManager& Manager) { return ConnectMs(Form, Manager, "COM202"); });
}
BENCHMARK(BM_ConnectOverRfc2217VersusPty)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// Milliseconds of one search of the main window that finds exactly one module.
double SearchMs(TfMain& Form) {
  const auto start = Clock::now();
  Form.ScanCIs();
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return Form.FoundChannels().size() == 1 ? ms : -1;
}

// Enters private namespaces for the rest of the run: registered last, and needs a process
// whose other threads have ended.
void BM_SearchBehindSilentNameServer(benchmark::State& state) {
  TSilentNameServer nameServer;
  if (const std::string why = nameServer.Enter(); !why.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  TSimPty module(std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 201)));
  const std::string alone = NoKernelPorts() + "201=" + module.SlavePath();
  const std::string named =
      alone + ";202=rfc2217://gw-hall3.plant.lan:4001;203=tcp://gw-hall4.plant.lan:4001";
  // Each search over its own entries.
  const auto searchOver = [](const std::string& Map) {
    return [Map](TfMain& Form, TFTDIManager&) {
      setenv("KVX_COMPORTS", Map.c_str(), 1);
      return SearchMs(Form);
    };
  };
  TimePair(state, "alone_ms", searchOver(alone), "with_names_ms", searchOver(named));
}
BENCHMARK(BM_SearchBehindSilentNameServer)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// Milliseconds of a search whose only channel is a device server behaving as Behaviour.
double SearchOneServerMs(THostileServer::TBehaviour Behaviour) {
  THostileServer server(std::move(Behaviour));
  setenv("KVX_COMPORTS", (NoKernelPorts() + "201=" + server.Url()).c_str(), 1);
  TFTDIManager manager;
  TPlainMainServices services;
  TfMain form(manager, services, {});
  const auto start = Clock::now();
  form.ScanCIs();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_SearchOverALateNegotiationVersusASilentServer(benchmark::State& state) {
  double late = 0, silent = 0;
  for (auto _ : state) {
    late += SearchOneServerMs(hostile::LateNegotiation);
    silent += SearchOneServerMs(hostile::Silent);
  }
  unsetenv("KVX_COMPORTS");
  ReportPair(state, "silent_ms", silent, "late_ms", late);
}
BENCHMARK(BM_SearchOverALateNegotiationVersusASilentServer)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// Runs inside the namespaces the search above entered.
void BM_StalledAndDeadLinks(benchmark::State& state) {
  if (!SetLoopbackUp(true)) {
    state.SkipWithError("no private network namespace");
    return;
  }
  double stalled = 0, busy = 0, idle = 0;
  for (auto _ : state) {
    stalled = SurvivesStall(std::chrono::seconds(5)) ? 1 : 0;
    busy = DeadNoticedSeconds(true);
    idle = DeadNoticedSeconds(false);
  }
  unsetenv("KVX_COMPORTS");
  state.counters["stall_5s_survived"] = stalled;
  state.counters["dead_busy_s"] = busy;
  state.counters["dead_idle_s"] = idle;
}
BENCHMARK(BM_StalledAndDeadLinks)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
