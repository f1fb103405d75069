// The MQTT publisher with 100 modules read once a second on 10 lines: the time from a read to
// its state at a subscriber, and the memory the process holds after a 60 s broker outage
// against before it. Skipped when Mosquitto is not installed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "service/uMqttPublisher.h"
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

// Ten lines, each reading its modules in turn once a period, handing each read to the sink.
class TPollers {
 public:
  explicit TPollers(IServedModuleSink& Sink) {
    for (int line = 0; line < kLines; ++line)
      FThreads.emplace_back([this, &Sink, line] { Poll(Sink, line); });
  }
  ~TPollers() {
    FStop = true;
    for (std::thread& thread : FThreads) thread.join();
  }

 private:
  void Poll(IServedModuleSink& Sink, int Line) {
    std::vector<TServedModule> modules(kModulesPerLine);
    for (int index = 0; index < kModulesPerLine; ++index) {
      modules[index].Model = "VIROD";
      modules[index].Serial = std::to_string(4000 + Line * kModulesPerLine + index);
      modules[index].Port = "COM" + std::to_string(Line + 1);
      modules[index].Up = true;
      for (TServedChannel& channel : modules[index].Channels)
        channel = {TServedChannelStatus::Value, 0, "", "Temperature", "°C"};
    }
    for (int round = 0; !FStop; ++round) {
      const auto next = std::chrono::steady_clock::now() + 1s;
      for (TServedModule& module : modules) {
        std::this_thread::sleep_for(50ms);  // a transaction on the line
        module.LastRead = SystemClock::now();
        module.Channels[0].Value = round;
        module.Channels[0].Text = std::to_string(round);
        ++module.Reads;
        Sink.Update(module);
      }
      std::this_thread::sleep_until(next);
    }
  }

  std::atomic<bool> FStop{false};
  std::vector<std::thread> FThreads;
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
  TPollers pollers(publisher);
  for (auto _ : State) {
    std::this_thread::sleep_for(15s);
    const long beforeKiB = ResidentKiB();
    measuring = false;
    broker.Kill();
    std::this_thread::sleep_for(60s);
    const long afterKiB = ResidentKiB();
    const auto restarted = SystemClock::now();
    broker.Restart();
    while (lastState.load() < restarted && SystemClock::now() - restarted < 60s)
      std::this_thread::sleep_for(100ms);
    State.counters["resumed_s"] =
        std::chrono::duration<double>(lastState.load() - restarted).count();
    State.counters["rss_before_kib"] = static_cast<double>(beforeKiB);
    State.counters["rss_growth_kib"] = static_cast<double>(afterKiB - beforeKiB);
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
