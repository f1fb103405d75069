// kvxctl against simulated modules behind the real ser2net: the search's speed trials reach
// the server's line over RFC 2217, configuration and measurement go through it, a server
// that dies is a lost channel, a slow link still works, and a raw TCP server works at its
// own fixed speed.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/net/DelayRelay.h"
#include "tests/net/Ser2net.h"
#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// A VIROD with serial number 42 that answers only at 115200 bit/s.
std::vector<std::string> Virod115200() {
  return {"-m", "rs", "-b", "115200", "-s", "42"};
}

// The pseudo-terminal kvx-sim serves its first module on.
std::string PtyOf(const TSimProcess& Sim) {
  for (const std::string& entry : Sim.Env())
    if (entry.rfind("KVX_COMPORTS=", 0) == 0) return entry.substr(entry.find('=', 13) + 1);
  return {};
}

class Ser2netTest : public testing::Test {
 protected:
  void SetUp() override {
    if (TSer2net::Program().empty())
      GTEST_SKIP() << "ser2net is not installed (scripts/deps.sh installs it)";
  }

  // kvxctl sees COM9 at Url and no ports file of the user's.
  std::vector<std::string> EnvFor(const std::string& Url) const {
    return {"KVX_COMPORTS=9=" + Url, "XDG_CONFIG_HOME=" + FConfig.Dir()};
  }

  TTempDir FConfig;
};

TEST_F(Ser2netTest, SearchReachesA115200ModuleOnlyThroughTheSpeedChangeAtTheServersLine) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  // The server opens its line at 9600: the module answers once the search's second trial has
  // set the line to 115200 over RFC 2217.
  TSer2net server(PtyOf(sim), true, "9600n81");
  const TRunResult search = RunKvxctl({"search"}, EnvFor(server.Url()));
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("VIROD|COM9|0042\n"), std::string::npos) << search.Out;

  // The same line without the speed change (raw TCP at 9600) finds nothing.
  TSer2net raw(PtyOf(sim), false, "9600n81");
  server.Kill();
  const TRunResult fixed = RunKvxctl({"search"}, EnvFor(raw.Url()));
  EXPECT_EQ(fixed.Out.find("COM9"), std::string::npos) << fixed.Out;
}

TEST_F(Ser2netTest, ShowSetAndWatchGoThroughTheServer) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), true);
  const auto env = EnvFor(server.Url());

  const TRunResult show = RunKvxctl({"show", "--json", "COM9"}, env);
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(json::parse(show.Out)["serial"], 42);

  const TRunResult set = RunKvxctl({"set", "COM9", "ch2.name=Tlak sila"}, env);
  ASSERT_EQ(set.Code, 0) << set.Err;
  const TRunResult again = RunKvxctl({"show", "COM9"}, env);
  EXPECT_NE(again.Out.find("ch2.name: \"Tlak sila\""), std::string::npos) << again.Out;

  const TRunResult watch = RunKvxctl({"watch", "--csv", "--count", "2", "COM9"}, env);
  ASSERT_EQ(watch.Code, 0) << watch.Err;
  EXPECT_EQ(std::count(watch.Out.begin(), watch.Out.end(), '\n'), 3) << watch.Out;
  EXPECT_EQ(watch.Out.find("\"-\""), std::string::npos) << watch.Out;
}

TEST_F(Ser2netTest, ALimitWhoseEncodingHoldsFFBytesRoundTrips) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), true);
  const auto env = EnvFor(server.Url());
  // 511.0 is 43 FF 80 00 as a real on the wire: the frames carry a data byte 0xFF each way.
  const TRunResult set = RunKvxctl({"set", "COM9", "ch1.upper=511"}, env);
  ASSERT_EQ(set.Code, 0) << set.Err;
  const TRunResult show = RunKvxctl({"show", "--json", "COM9"}, env);
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(json::parse(show.Out)["fields"]["ch1.upper"], 511) << show.Out;
}

TEST_F(Ser2netTest, KillingTheServerDuringWatchEndsItWithExit3NamingTheChannel) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), true);
  TRunResult watch;
  Clock::time_point ended;
  std::thread run([&] {
    watch = RunKvxctl({"watch", "--count", "60", "COM9"}, EnvFor(server.Url()));
    ended = Clock::now();
  });
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const auto killed = Clock::now();
  server.Kill();
  run.join();
  EXPECT_EQ(watch.Code, 3) << watch.Err;
  EXPECT_NE(watch.Err.find("COM9"), std::string::npos) << watch.Err;
  EXPECT_NE(watch.Out.find('\n'), std::string::npos) << "no reading before the kill";
  // Ends at once rather than after the 60 readings (loose: the machine may be busy).
  EXPECT_LT(ended - killed, std::chrono::seconds(3));
}

TEST_F(Ser2netTest, AfterTheServerComesBackTheNextSearchFindsTheModuleAgain) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), true);
  const auto env = EnvFor(server.Url());
  ASSERT_EQ(RunKvxctl({"show", "COM9"}, env).Code, 0);
  server.Kill();
  EXPECT_EQ(RunKvxctl({"search"}, env).Out.find("COM9"), std::string::npos);
  server.Restart();
  const TRunResult search = RunKvxctl({"search"}, env);
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("VIROD|COM9|0042\n"), std::string::npos) << search.Out;
}

TEST_F(Ser2netTest, ALinkThatDelaysEveryByte50msEachWayStillFindsAndShowsTheModule) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), true);
  TDelayRelay relay(server.Port(), std::chrono::milliseconds(50));
  const auto env = EnvFor("rfc2217://127.0.0.1:" + std::to_string(relay.Port()));
  const TRunResult search = RunKvxctl({"search"}, env);
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("VIROD|COM9|0042\n"), std::string::npos) << search.Out;
  const TRunResult show = RunKvxctl({"show", "--json", "COM9"}, env);
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(json::parse(show.Out)["serial"], 42);
}

TEST_F(Ser2netTest, RawTcpServerWorksAtItsOwnFixedSpeed) {
  TSimProcess sim(KVX_SIM_PROGRAM, Virod115200());
  TSer2net server(PtyOf(sim), false, "115200n81");
  const auto env = EnvFor(server.Url());
  const TRunResult search = RunKvxctl({"search"}, env);
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("VIROD|COM9|0042\n"), std::string::npos) << search.Out;
  const TRunResult show = RunKvxctl({"show", "--json", "COM9"}, env);
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(json::parse(show.Out)["serial"], 42);
}

}  // namespace
