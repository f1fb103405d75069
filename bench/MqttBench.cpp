// The service with its MQTT publisher, 100 simulated modules read once a second on 10 shared
// lines: the time from a module's reply to its state at a subscriber, and the memory the process
// holds after a 60 s broker outage against before it (beside its growth in 60 s with the broker
// up). Skipped when Mosquitto is not installed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "service/uKvxService.h"
#include "service/uMqttPublisher.h"
#include "support/uStringUtils.h"
#include "tests/kvxctl/CtlProcess.h"
#include "tests/serial/SerialTestUtils.h"
#include "tests/service/MqttRig.h"

namespace {

using namespace std::chrono_literals;
using SystemClock = std::chrono::system_clock;

constexpr int kLines = 10;
constexpr int kModulesPerLine = 10;

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return 0;
}

// The read's time in a state payload ("time":"2026-12-10T08:10:05.042Z").
std::optional<SystemClock::time_point> ReadTime(const std::string& Payload) {
  const std::size_t at = Payload.find("\"time\":\"");
  std::tm parts{};
  int millis = 0;
  if (at == std::string::npos ||
      std::sscanf(Payload.c_str() + at + 8, "%d-%d-%dT%d:%d:%d.%dZ", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &millis) != 7)
    return std::nullopt;
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return SystemClock::from_time_t(timegm(&parts)) + std::chrono::milliseconds(millis);
}

// Ten shared lines of ten RS modules (addresses 1 to 10) served by kvx-sim in a process of its
// own, COM101 to COM110, read once a second by the service in this process, every read handed
// to Sink; the memory of this process is the service's own.
std::vector<std::string> SimulatorArgs() {
  std::vector<std::string> args;
  for (int line = 0; line < kLines; ++line)
    for (int address = 1; address <= kModulesPerLine; ++address) {
      if (line > 0 || address > 1) args.push_back("-n");
      if (address > 1) args.push_back("-l");
      args.insert(args.end(), {"-m", "rs", "-a", std::to_string(address), "-s",
                               std::to_string(4000 + line * 100 + address)});
      if (address == 1) args.insert(args.end(), {"-p", std::to_string(101 + line)});
    }
  return args;
}

class TSimulatedPlant {
 public:
  explicit TSimulatedPlant(IServedModuleSink& Sink) : FSimulator(KVX_SIM_PROGRAM, SimulatorArgs()) {
    std::string map;
    for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
    for (const std::string& variable : FSimulator.Env())
      if (variable.starts_with("KVX_COMPORTS=")) map += variable.substr(13);
    setenv("KVX_COMPORTS", map.c_str(), 1);
    TServeSetup setup;
    for (int address = 1; address <= kModulesPerLine; ++address)
      setup.ScanAddresses.push_back(static_cast<std::uint8_t>(address));
    setup.Sinks = {&Sink};
    setup.Log = [](const std::string&) {};
    FService = std::make_unique<TKvxService>(setup);
    FService->Search({});
  }
  ~TSimulatedPlant() {
    FService.reset();
    unsetenv("KVX_COMPORTS");
  }
  std::size_t Modules() const { return FService->Modules(); }
  // Serves for Time, doing the service's main-thread share.
  void Serve(std::chrono::seconds Time) {
    const auto end = std::chrono::steady_clock::now() + Time;
    while (std::chrono::steady_clock::now() < end) {
      FService->Tick();
      std::this_thread::sleep_for(50ms);
    }
  }

 private:
  TTestMainThread FMain;
  TSimProcess FSimulator;
  std::unique_ptr<TKvxService> FService;
};

void BM_MqttHundredModules(benchmark::State& State) {
  if (TMosquittoBroker::Program().empty()) {
    State.SkipWithError("mosquitto is not installed");
    return;
  }
  TMosquittoBroker broker;
  std::mutex mutex;
  std::vector<double> latenciesMs;  // guarded by mutex
  std::atomic<SystemClock::time_point> lastState{};
  // Only reads published as they are made count; the states sent again after the outage are
  // as old as the outage's last reads.
  std::atomic<bool> measuring{true};
  TMqttSubscriber subscriber(broker.Port(), [&](const TReceived& Message) {
    if (!Message.Topic.ends_with("/state") || Message.Payload.empty()) return;
    lastState = Message.At;
    if (const auto read = ReadTime(Message.Payload); read && measuring) {
      std::lock_guard lock(mutex);
      latenciesMs.push_back(std::chrono::duration<double, std::milli>(Message.At - *read).count());
    }
  });
  TMqttSettings settings;
  settings.Host = "127.0.0.1";
  settings.Port = std::to_string(broker.Port());
  settings.User = TMosquittoBroker::kUser;
  settings.PasswordFile = broker.PasswordFile(TMosquittoBroker::kPassword);
  settings.DiscoveryPrefix = "homeassistant";
  TMqttPublisher publisher(settings, [](const std::string&) {});
  TSimulatedPlant plant(publisher);
  // On a busy machine a module may answer the search too late; the service finds it later.
  for (int wait = 0; wait < 60 && plant.Modules() < kLines * kModulesPerLine; ++wait)
    plant.Serve(1s);
  State.counters["modules"] = static_cast<double>(plant.Modules());
  for (auto _ : State) {
    // The same time with the broker up first: what the service itself takes meanwhile.
    plant.Serve(15s);
    const long startKiB = ResidentKiB();
    plant.Serve(60s);
    const long beforeKiB = ResidentKiB();
    measuring = false;
    broker.Kill();
    plant.Serve(60s);
    const long afterKiB = ResidentKiB();
    const auto restarted = SystemClock::now();
    broker.Restart();
    while (lastState.load() < restarted && SystemClock::now() - restarted < 60s) plant.Serve(1s);
    State.counters["resumed_s"] =
        std::chrono::duration<double>(lastState.load() - restarted).count();
    State.counters["rss_before_kib"] = static_cast<double>(beforeKiB);
    State.counters["rss_growth_broker_up_kib"] = static_cast<double>(beforeKiB - startKiB);
    State.counters["rss_growth_outage_kib"] = static_cast<double>(afterKiB - beforeKiB);
  }
  std::lock_guard lock(mutex);
  std::sort(latenciesMs.begin(), latenciesMs.end());
  if (latenciesMs.empty()) return State.SkipWithError("no state arrived");
  const auto percentile = [&](double Share) {
    return latenciesMs[static_cast<std::size_t>(Share * (latenciesMs.size() - 1))];
  };
  State.counters["states"] = static_cast<double>(latenciesMs.size());
  State.counters["p50_ms"] = percentile(0.5);
  State.counters["p99_ms"] = percentile(0.99);
  State.counters["max_ms"] = latenciesMs.back();
}
BENCHMARK(BM_MqttHundredModules)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
