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

// Each module of a shared line has its own file, is compared by its own address and is put
// back from the directory at that address.
TEST(KvxctlAudit, OnASharedLineEachModuleIsAuditedAndRestoredByItsAddress) {
  TSimProcess sim(KVX_SIM_PROGRAM, kLineOfThree);
  const TTempDir dir;
  const std::vector<std::string> audit = {"audit", "--addresses", "7,12,200", dir.Dir()};
  const TRunResult first = RunKvxctl(audit, sim.Env());
  EXPECT_EQ(first.Code, 0) << first.Err;
  for (const char* module :
       {"VIROD 4007 on COM5@7: new", "VIROD 4012 on COM5@12: new", "VIROD 4200 on COM5@200: new"})
    EXPECT_NE(first.Out.find(module), std::string::npos) << module << " in\n" << first.Out;
  ASSERT_EQ(RunKvxctl({"set", "COM5@12", "ch1.unit=mV"}, sim.Env()).Code, 0);
  const TRunResult changed = RunKvxctl(audit, sim.Env());
  EXPECT_EQ(changed.Code, 1) << changed.Err;
  EXPECT_NE(changed.Out.find("VIROD 4012 on COM5@12: ch1.unit "), std::string::npos) << changed.Out;
  EXPECT_NE(changed.Out.find("VIROD 4200 on COM5@200: unchanged"), std::string::npos)
      << changed.Out;
  const TRunResult restore = RunKvxctl({"restore", "COM5@12", dir.Dir()}, sim.Env());
  EXPECT_EQ(restore.Code, 0) << restore.Err;
  EXPECT_EQ(restore.Out, "ch1.unit: \"mV\" -> \"°C\"\nrestored and verified 1 field(s)\n");
  EXPECT_EQ(RunKvxctl(audit, sim.Env()).Code, 0);
}

}  // namespace
