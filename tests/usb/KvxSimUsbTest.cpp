// kvx-sim's --usb: modules behind fake USB adapters, reached from another process through
// the environment the tool prints.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxTransactor.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIdirect.h"

extern char** environ;

namespace {

// Runs kvx-sim until destroyed and keeps the lines it printed.
class TSimProcess {
 public:
  explicit TSimProcess(std::vector<std::string> Args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    Args.insert(Args.begin(), KVX_SIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : Args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&FPid, KVX_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
      FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FOut = fdopen(out[0], "r");
  }
  ~TSimProcess() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut) fclose(FOut);
  }
  // The value of Name in the printed "export" lines, reading until it comes.
  std::string Exported(const std::string& Name) {
    char line[4096];
    while (FOut && fgets(line, sizeof line, FOut)) {
      const std::string text = line;
      const auto at = text.find(" " + Name + "='");
      if (text.rfind("export ", 0) != 0 || at == std::string::npos) continue;
      const auto start = at + Name.size() + 3;
      return text.substr(start, text.find('\'', start) - start);
    }
    return {};
  }

 private:
  pid_t FPid = -1;
  FILE* FOut = nullptr;
};

TEST(KvxSimUsb, ModuleBehindAFakeAdapterAnswersThroughTheDriverLibrary) {
  FakeFtdi_Reset();
  TSimProcess sim({"--usb", "SIMU1", "--speed", "9600", "--serial", "4711"});
  const std::string adapters = sim.Exported("KVX_FAKE_FTDI");
  ASSERT_NE(adapters.find("SIMU1:"), std::string::npos) << adapters;
  setenv("KVX_FAKE_FTDI", adapters.c_str(), 1);
  ASSERT_EQ(FakeFtdi_LoadEnvironment(), 1);
  unsetenv("KVX_FAKE_FTDI");

  TIntfPtr<ICommunicationInterface> channel =
      Create<TFTDIDevice>("provider=FTD_USB;serial_number=SIMU1;baudrate=9600");
  ASSERT_TRUE(channel->Open());
  EXPECT_TRUE(CheckDevice(channel));
  TKVXChannelTransactor transactor(channel);
  TKVXrec rec;
  ASSERT_TRUE(KvxDownloadParams(rec, transactor.Method()));
  EXPECT_EQ(rec.Ident.Production.SerialNumber, 4711);
  EXPECT_TRUE(channel->Close(false));
  FakeFtdi_Reset();
}

}  // namespace
