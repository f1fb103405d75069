// kvxctl asked to end (Ctrl-C, a termination signal) while it waits on a silent line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/net/SilentNameServer.h"
#include "tests/net/TestServer.h"

namespace {

using namespace std::chrono_literals;

// Whether a program holds the port for itself (its exclusive mode is set).
bool HeldExclusively(const std::string& Port) {
  const int fd = open(Port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  int exclusive = 0;
  if (fd >= 0) ioctl(fd, TIOCGEXCL, &exclusive);
  if (fd >= 0) close(fd);
  return exclusive != 0;
}

constexpr char kChildVariable[] = "KVX_INTERRUPT_NAME_SERVER_CHILD";
constexpr int kCannotEnter = 77;

TEST(KvxctlInterrupt, ASignalEndsTheCommandAndGivesThePortBack) {
  const std::string backup = testing::TempDir() + "kvxctl_interrupted.json";
  // COM7 a pseudo-terminal nobody answers on, a device server that takes no connection, or a
  // device server whose name is looked up from a name server that never answers.
  enum TCom7 { Silent, Connecting, LookingUp };
  const struct {
    std::vector<std::string> Args;
    int Signal;
    TCom7 Com7 = Silent;
  } cases[] = {
      {{"show", "COM7"}, SIGINT},
      {{"show", "COM7"}, SIGTERM},
      {{"backup", "COM7", backup}, SIGINT},
      {{"search"}, SIGTERM},
      {{"show", "COM7"}, SIGINT, Connecting},
      {{"show", "COM7"}, SIGINT, LookingUp},
  };
  // The lookup runs in a child of this program, in namespaces of its own with that name server.
  const bool child = getenv(kChildVariable) != nullptr;
  TSilentNameServer nameServer;
  std::string output;
  if (child && !nameServer.Enter().empty()) std::exit(kCannotEnter);
  if (!child) {
    const int status = RunThisProgram("--gtest_filter=KvxctlInterrupt.*", kChildVariable, output);
    EXPECT_TRUE(status == 0 || status == kCannotEnter) << output;
  }
  for (const auto& c : cases) {
    if ((c.Com7 == LookingUp) != child) continue;
    SCOPED_TRACE(c.Args.front() + " " + std::to_string(c.Signal) + " " + std::to_string(c.Com7));
    // A pseudo-terminal nobody answers on; every other port of the machine maps to nothing.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string port = ptsname(master);
    const TFullListener server;
    std::string map;
    for (int n = 1; n <= 96; ++n) map += std::to_string(n) + "=/dev/kvx-no-such-node;";
    map += "7=" + (c.Com7 == Connecting  ? "rfc2217://127.0.0.1:" + std::to_string(server.Port())
                   : c.Com7 == LookingUp ? std::string("rfc2217://gw-hall3.plant.lan:4001")
                                         : port);
    std::chrono::steady_clock::time_point signalled;
    const TRunResult run = RunKvxctl(
        c.Args, {"KVX_COMPORTS=" + map, "XDG_CONFIG_HOME=" + testing::TempDir()}, [&](pid_t Pid) {
          const bool server = c.Com7 != Silent;
          const auto until = std::chrono::steady_clock::now() + (server ? 500ms : 10s);
          while ((server || !HeldExclusively(port)) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
          signalled = std::chrono::steady_clock::now();
          kill(Pid, c.Signal);
        });
    // Measured at a few milliseconds; the bound only tells an ended wait from one that runs
    // on (a silent line's retries, the 1.5 s the connection attempt still had, or the lookup
    // joined at the end), so a loaded machine does not fail it.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s);
    EXPECT_EQ(run.Code, 128 + c.Signal) << run.Err;
    EXPECT_EQ(run.Err, "kvxctl: interrupted\n");
    EXPECT_FALSE(HeldExclusively(port));
    EXPECT_FALSE(std::filesystem::exists(backup));
    for (const auto& entry : std::filesystem::directory_iterator(testing::TempDir()))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".kvxctl_interrupted.json"))
          << "a temporary left: " << entry.path();
    close(master);
  }
}

}  // namespace
