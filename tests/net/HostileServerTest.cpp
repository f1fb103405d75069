// Device servers that misbehave, as the operator comes to know them: each case is one way of
// misbehaving of the rig, what the channel says about it and whether it stays usable.
#include <gtest/gtest.h>

#include "net/uci_SerialServer.h"
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
      {"silent", hostile::Silent, "COM9: the device server does not set the line speed", true,
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
    EXPECT_EQ(channel->GetProblem(), test.Problem);
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

}  // namespace
