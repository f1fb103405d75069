// Device server entries by host name: a name server that never answers costs its time limit
// and is named, and a host whose first address is dead is still reached. Each test runs again
// in a child of this program, in namespaces of its own where the name server never answers.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "net/uci_SerialServer.h"
#include "tests/net/SilentNameServer.h"
#include "tests/net/StalledLink.h"
#include "tests/net/TestServer.h"

namespace {

constexpr char kChildVariable[] = "KVX_SILENT_NAME_SERVER_CHILD";
constexpr int kCannotEnter = 77;

// In the test program: runs the current test again in a child and judges its result; false.
// In the child: enters Server (with Hosts as /etc/hosts) and returns true to run the test.
bool InChildBehindSilentNameServer(TSilentNameServer& Server, const std::string& Hosts = {}) {
  if (!getenv(kChildVariable)) {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string output;
    const int status = RunThisProgram(
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name(),
        kChildVariable, output);
    if (status == kCannotEnter)
      GTEST_MESSAGE_(("a silent name server cannot be made here: " + output).c_str(),
                     testing::TestPartResult::kSkip);
    else
      EXPECT_EQ(status, 0) << output;
    return false;
  }
  if (const std::string why = Server.Enter(Hosts); !why.empty()) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(kCannotEnter);
  }
  return true;
}

TEST(SilentNameServer, AnEntryWhoseNameCannotBeResolvedSaysSoNamingPortAndHost) {
  TSilentNameServer nameServer;
  if (!InChildBehindSilentNameServer(nameServer)) return;
  for (const char* scheme : {"rfc2217", "tcp"}) {
    SCOPED_TRACE(scheme);
    TPortEntry entry(std::string(scheme) + "://gw-hall3.plant.lan:4001");
    auto channel = Create<TSerialServerInterface>("comport=9");
    EXPECT_FALSE(channel->Open());
    EXPECT_EQ(ProblemText(channel->GetProblem()), "COM9: cannot resolve gw-hall3.plant.lan");
    EXPECT_FALSE(IsDeviceGone(*channel));  // not "was disconnected"
  }
}

TEST(SilentNameServer, AHostWhoseFirstAddressIsDeadIsReachedAtItsNextOne) {
  TSilentNameServer nameServer;
  if (!InChildBehindSilentNameServer(nameServer,
                                     "::1 gw-dual.plant.lan\n127.0.0.1 gw-dual.plant.lan\n"))
    return;
  TTestServer live;                             // 127.0.0.1
  const TFullListener dead(true, live.Port());  // the same port on ::1 answers nothing

  TPortEntry entry("tcp://gw-dual.plant.lan:" + std::to_string(live.Port()));
  auto channel = Create<TSerialServerInterface>("comport=9");
  EXPECT_TRUE(channel->Open()) << ProblemText(channel->GetProblem());
  ASSERT_TRUE(live.Accept());
  channel->Write("*a");
  EXPECT_EQ(live.Receive(2), "*a");
}

// A link that stalls for five seconds (Wi-Fi, a WAN) keeps its connection; a dead one is found
// gone within fifteen, whether a request waits on it or not.
TEST(PrivateNetwork, AStalledLinkStaysConnectedAndADeadOneIsNoticedWithinFifteenSeconds) {
  TSilentNameServer network;
  if (!InChildBehindSilentNameServer(network)) return;
  EXPECT_TRUE(SurvivesStall(std::chrono::seconds(5)));
  for (const bool busy : {true, false}) {
    SCOPED_TRACE(busy ? "busy" : "idle");
    const double seconds = DeadNoticedSeconds(busy);
    EXPECT_GT(seconds, 5);
    EXPECT_LT(seconds, 15);
  }
}

}  // namespace
