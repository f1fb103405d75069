#include "comm/uci_ISerialPortInterface.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "SerialTestUtils.h"
#include "comm/uTraceMonitor.h"
#include "support/uProgramArgs.h"

namespace {

using namespace std::chrono_literals;

struct TListener {
  std::vector<std::string> Seen;
  void Opened(const TIntfPtr<ICommunicationInterface>&) { Seen.push_back("opened"); }
  void Closed(const TIntfPtr<ICommunicationInterface>&) { Seen.push_back("closed"); }
  void Data(const TIntfPtr<ICommunicationInterface>&) { Seen.push_back("data"); }
  void Settings(const TIntfPtr<ICommunicationInterface>&) { Seen.push_back("settings"); }
  void Line(const TIntfPtr<ICommunicationInterface>&, std::int32_t Code, bool State) {
    Seen.push_back("line " + std::to_string(Code) + (State ? " on" : " off"));
  }
};

class SerialPortInterfaceTest : public ::testing::Test {
 protected:
  TTestMainThread Main;
  std::shared_ptr<TAfSimLine> Line = std::make_shared<TAfSimLine>();
  TTestLines Lines{{{3, Line}}};

  static std::string ErrorOf(const std::function<void()>& Action) {
    try {
      Action();
    } catch (const std::exception& E) {
      return E.what();
    }
    return "(no error)";
  }
};

TEST_F(SerialPortInterfaceTest, ChannelFromComportHasDefaultsNameAndIsClosed) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  EXPECT_EQ(Channel->GetPortName(), "COM3");
  EXPECT_EQ(Channel->GetDescription(), "COM3");
  EXPECT_EQ(Channel->GetConnectionString(),
            "baudrate=9600;databits=8;stopbits=One;parity=None;dtr=-1;rts=-1;comport=3");
  EXPECT_FALSE(Channel->GetActive());
  EXPECT_EQ(Channel->GetCharTime(), 0.0);
  EXPECT_EQ(Channel->GetOutBufSize(), 921600 / 10);  // a second of the fastest line
  EXPECT_EQ(Channel->GetInBufSize(), 10000000);
  EXPECT_EQ(Create<TSerialPortInterface>("comport=0")->GetPortName(), "COM unknown");
  EXPECT_EQ(Create<TSerialPortInterface>()->GetPortName(), "");
}

TEST_F(SerialPortInterfaceTest, IsFoundByItsInterfacesAndRegistered) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  EXPECT_TRUE(Channel.Query<ISerialPortInterface>());
  EXPECT_TRUE(Channel.Query<ICommunicationInterface>());
  auto Classes = RegisteredChannelClasses();
  EXPECT_TRUE(std::any_of(Classes.begin(), Classes.end(), [](auto& Pair) {
    return Pair.first == "SERIAL_PORT" && Pair.second == typeid(TSerialPortInterface);
  }));
}

TEST_F(SerialPortInterfaceTest, KeysIgnoreCaseButNotBlanks) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  Channel->SetConnectionString("BAUDRATE=19200");
  EXPECT_EQ(Channel->GetBaudRate(), 19200);
  Channel->SetConnectionString(" baudrate=4800");
  EXPECT_EQ(Channel->GetBaudRate(), 19200);
  Channel->SetConnectionString("baudrate=1200;baudrate=2400");  // the first item wins
  EXPECT_EQ(Channel->GetBaudRate(), 1200);
  Channel->SetConnectionString("noise;databits=7\r\nparity=odd");
  EXPECT_EQ(Channel->GetDataBits(), 7);
  EXPECT_EQ(Channel->GetParity(), 1);
}

TEST_F(SerialPortInterfaceTest, StopBitsParityAndLinesAreReadAndWrittenBack) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  Channel->SetConnectionString("stopbits=1,5");
  EXPECT_EQ(Channel->GetStopBits(), 1);
  Channel->SetConnectionString("stopbits=2");
  Channel->SetConnectionString("stopbits=1.5");
  EXPECT_EQ(Channel->GetStopBits(), 1);
  Channel->SetConnectionString("stopbits=3");
  EXPECT_EQ(Channel->GetStopBits(), 1);
  Channel->SetConnectionString("parity=even;dtr=0;rts=true");
  EXPECT_EQ(Channel->GetParity(), 2);
  EXPECT_FALSE(Channel->GetDTR());
  EXPECT_TRUE(Channel->GetRTS());
  Channel->SetConnectionString("parity=purple");
  EXPECT_EQ(Channel->GetParity(), 2);
  EXPECT_EQ(Channel->GetConnectionString(),
            "baudrate=9600;databits=8;stopbits=OneAndHalf;parity=Even;dtr=0;rts=-1;comport=3");
  Channel->SetConnectionString("dtr=TRUE;parity=SPACE;stopbits=two");
  EXPECT_EQ(Channel->GetConnectionString(),
            "baudrate=9600;databits=8;stopbits=Two;parity=Space;dtr=-1;rts=-1;comport=3");
}

TEST_F(SerialPortInterfaceTest, ConnectionStringRoundTripKeepsEverySetting) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  Channel->SetConnectionString("baudrate=57600;databits=7;stopbits=Two;parity=Mark;dtr=0;rts=0");
  std::string Saved = Channel->GetConnectionString();
  auto Copy = Create<TSerialPortInterface>("comport=9");
  Copy->SetConnectionString(Saved);
  EXPECT_EQ(Copy->GetConnectionString(), Saved);
  Channel->SetConnectionString(Saved);
  EXPECT_EQ(Channel->GetConnectionString(), Saved);
}

TEST_F(SerialPortInterfaceTest, ComTextSelectsAPortOnlyWhenTheRestIsANumber) {
  auto Channel = Create<TSerialPortInterface>("COM5");
  EXPECT_EQ(Channel->GetPortName(), "COM5");
  Channel->SetConnectionString("COM7;baudrate=19200");
  EXPECT_EQ(Channel->GetPortName(), "COM5");
  EXPECT_EQ(Channel->GetBaudRate(), 19200);
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("com70000"); }), "Range check error");
  EXPECT_EQ(Channel->GetPortName(), "COM5");
}

TEST_F(SerialPortInterfaceTest, BadValuesRaiseAndKeepWhatWasAppliedBefore) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("baudrate=fast"); }),
            "'fast' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("baudrate=4800;databits=x8"); }),
            "'x8' is not a valid integer value");
  EXPECT_EQ(Channel->GetBaudRate(), 4800);
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("dtr=maybe"); }),
            "'maybe' is not a valid boolean value");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("baudrate=-1"); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("databits=256"); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("databits=9"); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("comport=65536"); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("baudrate=99999999999"); }),
            "'99999999999' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { Channel->SetConnectionString("comport= 3"); }),
            "' 3' is not a valid integer value");
  EXPECT_EQ(Channel->GetConnectionString(),
            "baudrate=4800;databits=8;stopbits=One;parity=None;dtr=-1;rts=-1;comport=3");
}

TEST_F(SerialPortInterfaceTest, ActiveOpensAClosedChannelButNeverCloses) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  Channel->SetConnectionString("active=1");
  EXPECT_TRUE(Channel->GetActive());
  EXPECT_TRUE(Line->IsOpen());
  EXPECT_EQ(Line->Settings().BaudRate, 9600u);
  Channel->SetConnectionString("active=0");
  EXPECT_TRUE(Channel->GetActive());
  Channel->SetConnectionString("baudrate=19200");  // applied to the open port at once
  EXPECT_EQ(Line->Settings().BaudRate, 19200u);
}

TEST_F(SerialPortInterfaceTest, OpenCloseAndPresenceRaiseTheNotifications) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  TListener L;
  Channel->GetOpenedEvents().Add(TCiNotify::Bind<&TListener::Opened>(&L));
  Channel->GetClosedEvents().Add(TCiNotify::Bind<&TListener::Closed>(&L));
  Channel->GetSettingsChangedEvents().Add(TCiNotify::Bind<&TListener::Settings>(&L));
  EXPECT_FALSE(Channel->Close(true));
  EXPECT_TRUE(Channel->Open());
  EXPECT_EQ(L.Seen, (std::vector<std::string>{"settings", "opened"}));
  L.Seen.clear();
  Channel->SetPresent(true);
  EXPECT_TRUE(Channel->GetActive());
  Channel->SetPresent(false);
  EXPECT_FALSE(Channel->GetActive());
  EXPECT_FALSE(Channel->GetPresent());
  EXPECT_EQ(L.Seen, std::vector<std::string>{"closed"});
}

TEST_F(SerialPortInterfaceTest, MissingOrBusyPortOpensAsFalse) {
  auto Missing = Create<TSerialPortInterface>("comport=8");
  EXPECT_FALSE(Missing->Open());
  auto First = Create<TSerialPortInterface>("comport=3");
  auto Second = Create<TSerialPortInterface>("comport=3");
  EXPECT_TRUE(First->Open());
  EXPECT_FALSE(Second->Open());
  EXPECT_FALSE(Second->GetActive());
}

TEST_F(SerialPortInterfaceTest, WritesReadsAndEventsGoThroughThePort) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  TListener L;
  Channel->GetDataReceivedEvents().Add(TCiNotify::Bind<&TListener::Data>(&L));
  Channel->GetModemLineEvents().Add(TCiNotifyChangeEvent::Bind<&TListener::Line>(&L));
  ASSERT_TRUE(Channel->Open());
  EXPECT_EQ(Channel->Write("hello"), 5);
  ASSERT_TRUE(WaitUntil([&] { return Line->Written() == "hello"; }));
  Line->Receive("world");
  EXPECT_EQ(Channel->InputCount(), 5);
  ASSERT_TRUE(Main.PumpUntil([&] { return !L.Seen.empty(); }));
  EXPECT_EQ(L.Seen[0], "data");
  std::string Data;
  Channel->Read(Data);
  EXPECT_EQ(Data, "world");
  L.Seen.clear();
  Line->SetModemStatus(MS_DSR_ON | MS_RLSD_ON);
  ASSERT_TRUE(Main.PumpUntil([&] { return L.Seen.size() >= 2; }));
  EXPECT_EQ(L.Seen, (std::vector<std::string>{"line 3 on", "line 0 on"}));
  EXPECT_TRUE(Channel->GetDSR());
  EXPECT_FALSE(Channel->GetCTS());
  Channel->SetDTR(false);
  EXPECT_EQ(Line->ControlLines(), TAfSimLine::LineRts);
  EXPECT_EQ(ErrorOf([&] { Channel->SetInBufSize(100); }), "Port is not closed -  ");
}

TEST_F(SerialPortInterfaceTest, DestroyingAnOpenChannelClosesItAndRaisesClosed) {
  TListener L;
  {
    auto Channel = Create<TSerialPortInterface>("comport=3");
    Channel->GetClosedEvents().Add(TCiNotify::Bind<&TListener::Closed>(&L));
    ASSERT_TRUE(Channel->Open());
  }
  EXPECT_EQ(L.Seen, std::vector<std::string>{"closed"});
  EXPECT_FALSE(Line->IsOpen());
}

TEST_F(SerialPortInterfaceTest, MonitorSeesWritesAndReadsWithTheirDirections) {
  auto Dir =
      std::filesystem::temp_directory_path() / ("kvx-serial-trace-" + std::to_string(getpid()));
  std::filesystem::create_directories(Dir);
  setenv("XDG_RUNTIME_DIR", Dir.c_str(), 1);
  int Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  std::string Path = TraceMonitorSocketPath();
  std::copy(Path.begin(), Path.end(), Address.sun_path);
  ASSERT_EQ(bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  SetProgramArgs({"kvxsetup", "DST"});
  ASSERT_TRUE(InitTraceMonitor());
  auto Next = [&] {
    pollfd P{Fd, POLLIN, 0};
    char Buffer[256];
    if (poll(&P, 1, 1000) <= 0) return std::string("(nothing)");
    return std::string(Buffer, static_cast<std::size_t>(recv(Fd, Buffer, sizeof Buffer, 0)));
  };
  auto Channel = Create<TSerialPortInterface>("comport=3");
  ASSERT_TRUE(Channel->Open());
  EXPECT_EQ(Channel->Write("12345"), 5);
  EXPECT_EQ(Next(),
            "\x01"
            "12345");
  Line->Receive("ab");
  std::string Data;
  Channel->Read(Data);
  EXPECT_EQ(Next(),
            "\x02"
            "ab");
  SetProgramArgs({"kvxsetup"});
  InitTraceMonitor();
  close(Fd);
  std::filesystem::remove_all(Dir);
  unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(SerialPortInterfaceTest, TheComPortChannelOffersNoSettingsDialog) {
  auto Channel = Create<TSerialPortInterface>("comport=3");
  TListener Listener;
  Channel->GetSettingsChangedEvents().Add(TCiNotify::Bind<&TListener::Settings>(&Listener));
  EXPECT_FALSE(Channel->HasSettingsDialog());
  EXPECT_FALSE(Channel->ShowSettingsDialog());
  EXPECT_TRUE(Listener.Seen.empty());
}

}  // namespace
