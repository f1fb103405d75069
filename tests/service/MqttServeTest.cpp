// kvxctl serve publishing simulated modules to a real Mosquitto broker on loopback.
#include <signal.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/net/TestServer.h"
#include "tests/service/MqttRig.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> ServeArgs(const TMosquittoBroker& Broker, const std::string& Password,
                                   const std::string& Protocol) {
  const std::string listen = "127.0.0.1:" + std::to_string(FreeLocalPort());
  const std::string passwordFile = Broker.PasswordFile(Password);
  return {"serve",      "--listen",        listen,        "--period",   "0.2",
          "--mqtt",     Broker.Url(),      "--mqtt-user", Broker.kUser, "--mqtt-password-file",
          passwordFile, "--mqtt-protocol", Protocol};
}

// MQTT 5 while it serves, 3.1.1 for the refused login.
TEST(MqttServe, ValuesReachTheBrokerThroughItsOutageAndTheServiceEndIsAnnounced) {
  if (TMosquittoBroker::Program().empty()) GTEST_SKIP() << "mosquitto is not installed";
  TMosquittoBroker broker;
  TMqttSubscriber subscriber(broker.Port());
  // A message on a topic that begins with Topic, with Payload when one is given, after Since.
  const auto arrives = [&](const std::string& Topic, const std::string& Payload = {},
                           std::chrono::system_clock::time_point Since = {}) {
    return subscriber.WaitFor(
        [&](const TReceived& Got) {
          return Got.Topic.starts_with(Topic) && (Payload.empty() || Got.Payload == Payload) &&
                 Got.At > Since;
        },
        45s);
  };
  // 4711 answers throughout; 4712 falls silent after its first reads.
  TSimProcess modules(KVX_SIM_PROGRAM, {"-p", "5", "-s", "4711", "-n", "-p", "6", "-s", "4712",
                                        "-f", "stop-after=40"});
  const std::string state = "kvx/DAZAZE-4711/state";
  RunKvxctl(ServeArgs(broker, broker.kPassword, "5"), modules.Env(), [&](pid_t Serve) {
    const std::optional<TReceived> read = arrives(state);
    ASSERT_TRUE(read) << "no state";
    const nlohmann::json channel = nlohmann::json::parse(read->Payload).at("channels").at(0);
    EXPECT_EQ(channel.at("name"), "Teplota pece") << read->Payload;
    EXPECT_EQ(channel.at("unit"), "°C");
    EXPECT_EQ(channel.at("status"), "value");
    // The number is the one the module's text rounds.
    EXPECT_NEAR(channel.at("value").get<double>(), std::stod(channel.at("text").get<std::string>()),
                0.05);
    EXPECT_TRUE(arrives("kvx/DAZAZE-4712/availability", "offline")) << "the silent module";

    broker.Kill();
    std::this_thread::sleep_for(3s);
    const auto restarted = std::chrono::system_clock::now();
    broker.Restart();
    EXPECT_TRUE(arrives(state, {}, restarted)) << "no state after the broker came back";

    kill(Serve, SIGKILL);
    EXPECT_TRUE(arrives("kvx/bridge/", "offline")) << "no last will";
  });

  const TRunResult refused =
      RunKvxctl(ServeArgs(broker, "wrong", "3.1.1"), modules.Env(), [&](pid_t Serve) {
        for (int wait = 0; wait < 200 && broker.Log().find("not authorised") == std::string::npos;
             ++wait)
          std::this_thread::sleep_for(100ms);
        std::this_thread::sleep_for(
            2s);  // time for a second refusal, which must not be named again
        kill(Serve, SIGTERM);
      });
  const std::string named = "refused the login: Connection Refused: not authorised.";
  EXPECT_NE(refused.Err.find(named), std::string::npos) << refused.Err;
  EXPECT_EQ(refused.Err.find(named), refused.Err.rfind(named)) << "named more than once";
}

}  // namespace
