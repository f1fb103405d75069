// Device servers that misbehave, as the operator comes to know them: each case is one way of
// misbehaving of the rig, what the channel says about it and whether it stays usable.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "net/uci_SerialServer.h"
#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxTransactor.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "tests/net/HostileServer.h"

namespace {

struct THostileCase {
  const char* Name;
  THostileServer::TBehaviour Behaviour;
  const char* Problem;
  bool StaysConnected;
  std::int32_t LineSpeed;  // after asking for 115200, when it stays connected
};

TEST(HostileServer, TheOperatorIsToldWhatTheServerDoesWrongNamingThePort) {
  const THostileCase cases[] = {
      // Not a word from it: named as a server that does not answer, not blamed on the speed.
      {"silent", hostile::Silent, "COM9: the device server 127.0.0.1:%1 does not answer", true,
       9600},
      {"late negotiation", hostile::LateNegotiation, "", true, 115200},
      {"refused COM port option", hostile::RefusedComPort,
       "COM9: the device server does not set the line speed", true, 9600},
      {"wrong confirmed speed", hostile::WrongSpeed,
       "COM9: the device server set 19200 bit/s when asked for 115200", true, 19200},
      {"unterminated subnegotiation", hostile::UnterminatedSubnegotiation,
       "COM9: the device server breaks the Telnet protocol (it sends a subnegotiation without "
       "end); connection closed",
       false, 0},
      {"compression never asked for", hostile::UnaskedCompression,
       "COM9: the device server breaks the Telnet protocol (it starts compression it was not "
       "asked for); connection closed",
       false, 0},
  };
  for (const THostileCase& test : cases) {
    SCOPED_TRACE(test.Name);
    THostileServer server(test.Behaviour);
    TPortEntry entry(server.Url());
    auto channel = Create<TSerialServerInterface>("comport=9");
    channel->Open();
    channel->SetBaudRate(115200);  // the search's second speed
    std::string reply;
    channel->Query("*a", 100, reply);
    const std::string url = server.Url();
    EXPECT_EQ(ProblemText(channel->GetProblem()),
              FillIn(test.Problem, {url.substr(url.rfind(':') + 1)}));
    EXPECT_EQ(channel->GetActive(), test.StaysConnected);
    if (test.StaysConnected) {
      EXPECT_EQ(channel->GetBaudRate(), test.LineSpeed);
      // The negotiation's lateness is its own wait, not every exchange's.
      EXPECT_LT(channel->GetLinkDelay(), hostile::kLateNegotiation.count());
    } else {
      EXPECT_EQ(reply, "");  // what followed the violation is not taken for the module's
      EXPECT_EQ(channel->InputCount(), -1);
    }
    channel->Close(true);
  }
}

// A module read through a server that answers with garbage: the operator gets one error, no
// flood of messages, and gets it about as soon as the line speed allows.
TEST(HostileServer, AModuleReadThroughAMisbehavingServerFailsOnceAndSoon) {
  using namespace std::chrono_literals;
  const struct {
    const char* Name;
    THostileServer::TBehaviour Behaviour;
    std::chrono::milliseconds Within;  // several times what it takes, far below a time-out
    bool StaysConnected;
  } cases[] = {
      // Without a bound on the reply, 65 539 bytes at 9600 bit/s and a message per code.
      {"a maximal frame of unknown codes", hostile::UnknownCodes, 5s, true},
      {"a hang-up in the middle of a reply", hostile::HangUpMidReply, 1s, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Name);
    THostileServer server(test.Behaviour);
    TPortEntry entry(server.Url());
    auto channel = Create<TSerialServerInterface>("comport=9");
    ASSERT_TRUE(channel->Open());
    std::vector<std::string> messages;
    const TMessageHandler previous =
        SetMessageHandler([&](const std::string& Text) { messages.push_back(Text); });
    TKVXChannelTransactor transactor(channel);
    TKVXrec rec;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    try {
      KvxDownloadParams(rec, transactor.Method());
    } catch (const Exception& failure) {
      error = failure.what();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    SetMessageHandler(previous);
    EXPECT_TRUE(error.starts_with("Device not responding")) << error;
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_LT(took, test.Within);
    EXPECT_EQ(channel->GetActive(), test.StaysConnected);
    channel->Close(true);
  }
}

}  // namespace
