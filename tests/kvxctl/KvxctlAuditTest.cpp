// kvxctl audit as a process against simulated modules on pseudo-terminals, killed at any moment.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Whether any entry of Dir passes Test.
bool AnyEntry(const std::string& Dir, const std::function<bool(const std::string&)>& Test) {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, ignored))
    if (Test(entry.path().filename().string())) return true;
  return false;
}

TEST(KvxctlAudit, AnAuditKilledAtAnyMomentLeavesEveryFileReadable) {
  const struct {
    const char* What;
    std::function<bool(const std::string&)> KillWhen;  // an entry of the directory
  } cases[] = {
      {"the directory locked", [](const std::string& Name) { return Name == ".kvxctl.lock"; }},
      {"a file being written",
       [](const std::string& Name) {
         return Name.starts_with(".") && Name.find(".json.") != std::string::npos;
       }},
      {"a file written", [](const std::string& Name) { return Name.ends_with(".json"); }},
  };
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "61", "-n", "-m", "rs", "-b",
                                    "115200", "-s", "62"});
  for (const auto& test : cases) {
    SCOPED_TRACE(test.What);
    const TTempDir dir;
    RunKvxctl({"audit", dir.Dir()}, sim.Env(), [&](pid_t Pid) {
      const auto until = std::chrono::steady_clock::now() + 10s;
      while (!AnyEntry(dir.Dir(), test.KillWhen) && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
      kill(Pid, SIGKILL);
    });
    const TRunResult again = RunKvxctl({"audit", dir.Dir()}, sim.Env());
    EXPECT_EQ(again.Code, 0) << again.Out << again.Err;
    EXPECT_EQ(again.Out.find("does not parse"), std::string::npos) << again.Out;
  }
}

}  // namespace
