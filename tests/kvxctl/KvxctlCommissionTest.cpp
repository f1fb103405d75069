// kvxctl commission as a process: modules brought one after another to a simulated bench port.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/support/TempDir.h"

namespace {

// Waits until the running kvxctl has printed Text Count times, or has ended.
void WaitForOutput(pid_t Pid, const std::string& Text, int Count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int seen = 0; seen < Count && std::chrono::steady_clock::now() < until;) {
    std::ifstream in("/proc/" + std::to_string(Pid) + "/fd/1");
    if (!in) return;  // it has ended
    const std::string out{std::istreambuf_iterator<char>(in), {}};
    seen = 0;
    for (auto at = out.find(Text); at != std::string::npos; at = out.find(Text, at + 1)) ++seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(KvxctlCommission, ModulesBroughtOneAfterAnotherShareALineWithThePlantsSettings) {
  const TTempDir plant, files;
  std::ofstream(plant.File("VIROD-1023-0009.json"))
      << R"({"model": "VIROD", "serial": 9, "fields": {"address": 2}})";
  std::ofstream(files.File("template.json"))
      << R"({"model": "VIROD", "serial": 1, "fields": {"address": 7, "ch1.name": "Kotel {n}",
            "ch1.unit": "kPa", "ch1.gain": 4}})";
  // The second module refuses every setting; it comes at address 30.
  TSimProcess sim(
      KVX_SIM_PROGRAM,
      {"--bench", "-m",     "rs", "-p",     "6",      "-b",  "115200", "-s", "501", "-n",
       "-m",      "rs",     "-b", "115200", "-s",     "502", "-a",     "30", "-f",  "ignore-writes",
       "-n",      "-m",     "rs", "-b",     "115200", "-s",  "503",    "-n", "-m",  "rs",
       "-b",      "115200", "-s", "504"});
  const TRunResult run =
      RunKvxctl({"commission", "COM6", "--addresses", "1-4", "--template",
                 files.File("template.json"), "--plant", plant.Dir(), "--speed", "57600"},
                sim.Env(), [&sim](pid_t Pid) {
                  for (int module = 1; module <= 4; ++module) {
                    WaitForOutput(Pid, "waiting for a module", module);
                    sim.Signal(SIGUSR1);  // plugged in
                    WaitForOutput(Pid, "; unplug it", module);
                    sim.Signal(SIGUSR1);  // taken off
                  }
                });
  EXPECT_EQ(run.Code, 4) << run.Out << run.Err;
  for (const char* said :
       {"VIROD 0502: FAILED, verification failed: ", "ch1.name (written 'Kotel 2'",
        "left at address 30 as it came", "1   VIROD 0501   1        commissioned",
        "-   VIROD 0502   30       failed"})
    EXPECT_NE(run.Out.find(said), std::string::npos) << said << " in\n" << run.Out;
  EXPECT_NE(run.Err.find("ch1.gain: this channel has no gain setting; skipped"), std::string::npos)
      << run.Err;

  // Apart from the last one taken off: two signals at once count as one.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  sim.Signal(SIGUSR1);  // all of them on one line
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The module that failed kept its speed as well: a line runs at one speed, so the scan of
  // the commissioned ones does not reach it, and it is asked on its own.
  const TRunResult scan =
      RunKvxctl({"search", "--baudrate", "57600", "--addresses", "1-4"}, sim.Env());
  const struct {
    std::string Place, Serial, Name, Unit;
  } modules[] = {{"COM6@1", "0501", "Kotel 1", "kPa"},
                 {"COM6@3", "0503", "Kotel 2", "kPa"},
                 {"COM6@4", "0504", "Kotel 3", "kPa"},
                 {"COM6@30", "0502", "Teplota pece", "°C"}};
  for (const auto& module : modules) {
    SCOPED_TRACE(module.Place);
    const bool commissioned = module.Unit == "kPa";
    EXPECT_EQ(scan.Out.find("VIROD|" + module.Place + "|" + module.Serial) != std::string::npos,
              commissioned)
        << scan.Out;
    const TRunResult show =
        RunKvxctl({"show", "--baudrate", "57600", "--json", module.Place}, sim.Env());
    const nlohmann::json fields = nlohmann::json::parse(show.Out, nullptr, false)["fields"];
    EXPECT_EQ(fields["ch1.name"], module.Name) << show.Out << show.Err;
    EXPECT_EQ(fields["ch1.unit"], module.Unit);
    EXPECT_EQ(std::ifstream(plant.File("VIROD-1023-" + module.Serial + ".json")).good(),
              commissioned);
  }
}

}  // namespace
