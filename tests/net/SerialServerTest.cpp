// The serial device server channel against a test-side server: what reaches the server, what
// the operator's side reads, and a connection that goes away.
#include "net/uci_SerialServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/net/TestServer.h"
#include "usb/uci_FTDImanager.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kIac = '\xff', kSb = '\xfa', kSe = '\xf0', kDo = '\xfd', kDont = '\xfe',
               kComPort = 44;

std::string ComPortCommand(std::initializer_list<char> Payload) {
  std::string bytes{kIac, kSb, kComPort};
  bytes += std::string(Payload);
  return bytes + std::string{kIac, kSe};
}

struct TClosedCounter {
  std::atomic<int> Count{0};
  void Closed(const TIntfPtr<ICommunicationInterface>&) { ++Count; }
};

TEST(SerialServer, RawTcpCarriesFFBytesBothWaysAndItsSettingsSendNothing) {
  TTestServer server;
  TPortEntry entry(server.Url("tcp"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  EXPECT_EQ(channel->GetPortName(), "COM9");
  EXPECT_EQ(channel->GetDescription(), server.Url("tcp"));
  ASSERT_TRUE(channel->Open());
  ASSERT_TRUE(server.Accept());

  channel->SetConnectionString("baudrate=115200;parity=Even;dtr=0");
  EXPECT_EQ(channel->GetBaudRate(), 115200);
  EXPECT_EQ(server.Receive(1, milliseconds(200)), "");

  EXPECT_EQ(channel->Write(std::string("\xff\x00\xff", 3)), 3);
  EXPECT_EQ(server.Receive(3), std::string("\xff\x00\xff", 3));
  auto answered = std::async(std::launch::async, [&server] {
    const std::string request = server.Receive(2);
    server.Send(std::string("\xff\xfe", 2));
    return request;
  });
  std::string reply;
  channel->Query("*a", 1000, reply, [](const std::string& r) { return r.size() < 2; });
  EXPECT_EQ(answered.get(), "*a");
  EXPECT_EQ(reply, std::string("\xff\xfe", 2));
}

TEST(SerialServer, AServerThatNeverStopsTalkingCannotGrowTheInputBeyondItsBuffer) {
  TTestServer server;
  TPortEntry entry(server.Url("tcp"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  channel->SetInBufSize(1000);
  ASSERT_TRUE(channel->Open());
  ASSERT_TRUE(server.Accept());
  for (int block = 0; block < 20; ++block) server.Send(std::string(500, 'x'));
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (channel->InputCount() < 1000 && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(5));
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(channel->InputCount(), 1000);
}

TEST(SerialServer, ConnectionClosedByTheServerIsTheDeviceGoneAndTheNextOpenConnectsAfresh) {
  TTestServer server;
  TPortEntry entry(server.Url("tcp"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  TClosedCounter closed;
  channel->GetClosedEvents().Add(Bind<&TClosedCounter::Closed>(&closed));
  ASSERT_TRUE(channel->Open());
  ASSERT_TRUE(server.Accept());
  server.Hangup();

  // The exchange returns without waiting out its time limit.
  std::string reply;
  const auto start = Clock::now();
  channel->Query("*a", 3000, reply);
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  EXPECT_EQ(reply, "");
  EXPECT_FALSE(channel->GetActive());
  EXPECT_EQ(channel->InputCount(), -1);
  EXPECT_EQ(channel->Write("x"), 0);
  EXPECT_FALSE(channel->Close(true));  // closed already; nothing raised
  EXPECT_EQ(channel->InputCount(), -1);
  EXPECT_EQ(closed.Count, 1);

  ASSERT_TRUE(channel->Open());
  ASSERT_TRUE(server.Accept());
  channel->Write("again");
  EXPECT_EQ(server.Receive(5), "again");
  EXPECT_EQ(closed.Count, 1);
}

// A server that refuses or never answers opens nothing, counts as the device gone, says
// which and costs at most the channel's time limit.
TEST(SerialServer, AServerThatRefusesOrIsSilentIsNamedAndCountsAsTheDeviceGone) {
  const TFullListener silent;
  const int refusing = FreeLocalPort();
  const struct {
    int Port;
    const char* Problem;
  } cases[] = {
      {refusing, "refuses the connection"},
      {silent.Port(), "does not answer"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Problem);
    const std::string server = "127.0.0.1:" + std::to_string(test.Port);
    TPortEntry entry("rfc2217://" + server);
    auto channel = Create<TSerialServerInterface>("comport=9");
    const auto start = Clock::now();
    EXPECT_FALSE(channel->Open());
    EXPECT_LT(Clock::now() - start, kServerTimeLimit + milliseconds(1500));
    EXPECT_EQ(ProblemText(channel->GetProblem()),
              "COM9: the device server " + server + " " + test.Problem);
    EXPECT_FALSE(channel->GetActive());
    EXPECT_EQ(channel->InputCount(), -1);
    std::string reply;
    channel->Query("*a", 100, reply);
    EXPECT_EQ(reply, "");
  }
}

TEST(SerialServer, ServerRefusingTheComPortOptionStillCarriesTelnetData) {
  TTestServer server;
  TPortEntry entry(server.Url("rfc2217"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  auto opened = std::async(std::launch::async, [&channel] { return channel->Open(); });
  ASSERT_TRUE(server.Accept());
  server.Receive(9);  // the client's three requests
  server.Send(std::string{kIac, kDont, kComPort});
  ASSERT_TRUE(opened.get());
  server.Receive(64, milliseconds(200));  // whatever the negotiation still sends

  channel->Write(std::string("*\xff", 2));
  EXPECT_EQ(server.Receive(3), std::string("*\xff\xff", 3));
  auto answered = std::async(std::launch::async, [&server] {
    server.Receive(1);
    server.Send(std::string("\xff\xff\r", 3));
  });
  std::string reply;
  channel->Query("?", 1000, reply, [](const std::string& r) { return r.size() < 2; });
  answered.get();
  EXPECT_EQ(reply, std::string("\xff\r", 2));
}

TEST(SerialServer, LineSettingsAndPurgesReachTheServerAsComPortCommands) {
  TTestServer server;
  TPortEntry entry(server.Url("rfc2217"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  auto opened = std::async(std::launch::async, [&channel] { return channel->Open(); });
  ASSERT_TRUE(server.Accept());
  server.Receive(9);
  server.Send(std::string{kIac, kDo, kComPort});
  const std::string opening = server.Receive(1000, milliseconds(300));
  EXPECT_NE(opening.find(ComPortCommand({1, 0, 0, '\x25', '\x80'})), std::string::npos);
  server.Send(ComPortCommand({101, 0, 0, '\x25', '\x80'}));
  ASSERT_TRUE(opened.get());

  channel->SetConnectionString("databits=7;parity=Even;stopbits=2;dtr=0");
  channel->PurgeInput();
  const std::string wire = server.Receive(1000, milliseconds(300));
  EXPECT_NE(wire.find(ComPortCommand({2, 7})), std::string::npos);
  EXPECT_NE(wire.find(ComPortCommand({3, 3})), std::string::npos);
  EXPECT_NE(wire.find(ComPortCommand({4, 2})), std::string::npos);
  EXPECT_NE(wire.find(ComPortCommand({5, 9})), std::string::npos);
  EXPECT_NE(wire.find(ComPortCommand({12, 1})), std::string::npos);
}

TEST(SerialServer, ALateNegotiationDoesNotStretchTheExchangesAfterIt) {
  TTestServer server;
  TPortEntry entry(server.Url("rfc2217"));
  auto channel = Create<TSerialServerInterface>("comport=9");
  auto opened = std::async(std::launch::async, [&channel] { return channel->Open(); });
  ASSERT_TRUE(server.Accept());
  server.Receive(9);
  std::this_thread::sleep_for(milliseconds(300));  // a server slow to negotiate
  server.Send(std::string{kIac, kDo, kComPort});
  ASSERT_TRUE(opened.get());
  EXPECT_LT(channel->GetLinkDelay(), 300);
}

TEST(SerialServer, InterfaceManagerListsAServerEntryAsItsComNumberWithTheUrlAsDescription) {
  TPortEntry entry("rfc2217://127.0.0.1:4001");
  TFTDIManager manager;
  TChannelListLock lock(manager);
  manager.RebuildChannels();
  TIntfPtr<ICommunicationInterface> channel;
  manager.FindChannel("COM9", channel);
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->GetDescription(), "rfc2217://127.0.0.1:4001");
  EXPECT_FALSE(channel->GetActive());  // listed without connecting
}

}  // namespace
