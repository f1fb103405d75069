// The Telnet layer of serial device server channels, byte for byte: what goes on the wire for
// data and settings, and what the server's bytes turn into.
#include "net/uTelnetComPort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/uConversionUtils.h"
#include "tests/net/ServerWire.h"

namespace {

constexpr char kBinary = 0, kEcho = 1, kSga = 3, kComPort = 44;

std::string Bytes(std::initializer_list<char> List) {
  return std::string(List);
}

struct TTelnetRig {
  std::string Wire;
  std::vector<std::string> Log;
  TTelnetComPort Port{[this](std::string_view Bytes) { Wire += Bytes; },
                      [this](const std::string& Text) { Log.push_back(Text); }};

  std::string Feed(const std::string& FromServer) {
    std::string data;
    Port.Receive(FromServer, data);
    return data;
  }
  std::string TakeWire() { return std::exchange(Wire, {}); }
};

TEST(TelnetComPort, StartAsksForBinaryBothWaysAndForTheComPortOption) {
  TTelnetRig rig;
  rig.Port.Start();
  const std::string wire = rig.TakeWire();
  EXPECT_NE(wire.find(Bytes({kIac, kWill, kBinary})), std::string::npos);
  EXPECT_NE(wire.find(Bytes({kIac, kDo, kBinary})), std::string::npos);
  EXPECT_NE(wire.find(Bytes({kIac, kWill, kComPort})), std::string::npos);
}

TEST(TelnetComPort, ServerOptionsAreAnsweredOnceAndUnknownOnesRefused) {
  TTelnetRig rig;
  rig.Port.Start();
  rig.TakeWire();
  // Answers to this side's own requests are not answered again.
  rig.Feed(Bytes({kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kDo, kComPort}));
  EXPECT_EQ(rig.TakeWire(), "");
  rig.Feed(Bytes({kIac, kWill, kSga, kIac, kWill, kEcho, kIac, kDo, kEcho}));
  EXPECT_EQ(rig.TakeWire(), Bytes({kIac, kDo, kSga, kIac, kDont, kEcho, kIac, kWont, kEcho}));
  rig.Feed(Bytes({kIac, kWill, kSga}));
  EXPECT_EQ(rig.TakeWire(), "");
}

TEST(TelnetComPort, AServerThatOffersTheOptionFirstIsNotAskedAgain) {
  TTelnetRig rig;
  rig.Feed(Bytes({kIac, kDo, kComPort}));
  EXPECT_EQ(rig.TakeWire(), Bytes({kIac, kWill, kComPort}));
  rig.Port.Start();
  EXPECT_EQ(rig.TakeWire().find(Bytes({kIac, kWill, kComPort})), std::string::npos);
  EXPECT_EQ(rig.Port.ComPortOption(), TTelnetComPort::TOptionState::Accepted);
}

TEST(TelnetComPort, DataBytesFFAreDoubledOnTheWireAndArriveSingle) {
  TTelnetRig rig;
  rig.Port.SendData(Bytes({'*', 'a', kIac, '\x00', kIac, '\r'}));
  EXPECT_EQ(rig.TakeWire(), Bytes({'*', 'a', kIac, kIac, '\x00', kIac, kIac, '\r'}));
  EXPECT_EQ(rig.Feed(Bytes({'\x01', kIac, kIac, '\x02', kIac, kIac})),
            Bytes({'\x01', kIac, '\x02', kIac}));
}

TEST(TelnetComPort, SettingsAreSentOnlyOnceTheServerTakesTheOption) {
  TTelnetRig rig;
  rig.Port.Start();
  rig.TakeWire();
  rig.Port.SendCommand(cpcSetBaudRate, BigEndian32(115200));
  EXPECT_EQ(rig.TakeWire(), "");

  rig.Feed(Bytes({kIac, kDo, kComPort}));
  EXPECT_EQ(rig.Port.ComPortOption(), TTelnetComPort::TOptionState::Accepted);
  rig.TakeWire();
  rig.Port.SendCommand(cpcSetBaudRate, BigEndian32(115200));
  EXPECT_EQ(rig.TakeWire(), Bytes({kIac, kSb, kComPort, 1, 0, 1, '\xc2', 0, kIac, kSe}));
  // A value byte 0xFF inside a subnegotiation is doubled as well.
  rig.Port.SendCommand(cpcSetBaudRate, BigEndian32(511));
  EXPECT_EQ(rig.TakeWire(), Bytes({kIac, kSb, kComPort, 1, 0, 0, 1, kIac, kIac, kIac, kSe}));
}

TEST(TelnetComPort, ConfirmationsAreCountedWithTheirValueAndDataAroundThemKept) {
  TTelnetRig rig;
  rig.Port.Start();
  rig.Feed(Bytes({kIac, kDo, kComPort}));
  const std::string data =
      rig.Feed(Bytes({'A', kIac, kSb, kComPort, 101, 0, 1, '\xc2', 0, kIac, kSe, 'B'}));
  EXPECT_EQ(data, "AB");
  EXPECT_EQ(rig.Port.Confirmations(cpcSetBaudRate), 1u);
  EXPECT_EQ(rig.Port.ConfirmedValue(cpcSetBaudRate), BigEndian32(115200));
  rig.Feed(Bytes({kIac, kSb, kComPort, 107, '\x30', kIac, kSe}));
  EXPECT_EQ(rig.Port.ModemState(), kModemCts | kModemDsr);
}

TEST(TelnetComPort, RefusedOptionIsLoggedAndDataStillFlows) {
  TTelnetRig rig;
  rig.Port.Start();
  rig.Feed(Bytes({kIac, kDont, kComPort}));
  EXPECT_EQ(rig.Port.ComPortOption(), TTelnetComPort::TOptionState::Refused);
  ASSERT_FALSE(rig.Log.empty());
  EXPECT_NE(rig.Log.back().find("refuses"), std::string::npos);
  rig.TakeWire();
  rig.Port.SendCommand(cpcSetBaudRate, BigEndian32(9600));
  EXPECT_EQ(rig.TakeWire(), "");
  EXPECT_EQ(rig.Feed("*a"), "*a");
}

}  // namespace
