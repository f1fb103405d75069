#include "serial/AfComPort.h"

#include <gtest/gtest.h>

#include <thread>

#include "SerialTestUtils.h"
#include "serial/uCommunicationUtils.h"

namespace {

using namespace std::chrono_literals;

class AfComPortTest : public ::testing::Test {
 protected:
  TTestMainThread Main;
  std::shared_ptr<TAfSimLine> Line = std::make_shared<TAfSimLine>();
  std::shared_ptr<TAfSimLine> Line5 = std::make_shared<TAfSimLine>();
  TTestLines Lines{{{3, Line}, {5, Line5}}};
  TAfComPort Port;

  void SetUp() override {
    Port.Name = "Port1";
    Port.SetComNumber(3);
  }
  template <typename F>
  std::string ErrorOf(F&& Action) {
    try {
      Action();
    } catch (const std::exception& E) {
      return E.what();
    }
    return "(no error)";
  }
};

TEST_F(AfComPortTest, NewComponentHasTheDefaultLineSettings) {
  const DCB& D = Port.Dcb();
  EXPECT_EQ(D.DCBlength, 28u);
  EXPECT_EQ(D.BaudRate, 115200u);
  EXPECT_EQ(D.ByteSize, 8);
  EXPECT_EQ(D.Parity, NOPARITY);
  EXPECT_EQ(D.StopBits, ONESTOPBIT);
  EXPECT_EQ(D.Flags, 0x1011u);
  EXPECT_EQ(D.XonChar, 17);
  EXPECT_EQ(D.XoffChar, 19);
  EXPECT_EQ(Port.InBufSize(), 4096);
  EXPECT_EQ(Port.OutBufSize(), 2048);
  EXPECT_EQ(Port.WriteThreadPriority(), tpHighest);
}

TEST_F(AfComPortTest, UserBaudRateSwitchesToUserAndAFixedRateClearsIt) {
  Port.SetUserBaudRate(9600);
  EXPECT_EQ(Port.BaudRate(), brUser);
  EXPECT_EQ(Port.Dcb().BaudRate, 9600u);
  EXPECT_EQ(BaudRateValue(Port), 9600);
  Port.SetBaudRate(br19200);
  EXPECT_EQ(Port.UserBaudRate(), 0);
  EXPECT_EQ(Port.Dcb().BaudRate, 19200u);
  EXPECT_EQ(BaudRateValue(Port), 19200);
}

TEST_F(AfComPortTest, FlowControlFlagsReplaceTheSeparateLineEnables) {
  Port.SetFlowControl(fwRtsCts);
  EXPECT_EQ(Port.Dcb().Flags, 0x2015u);
  Port.SetFlowControl(fwDtrDsr);
  EXPECT_EQ(Port.Dcb().Flags, 0x1029u);
  Port.SetFlowControl(fwXOnXOff);
  EXPECT_EQ(Port.Dcb().Flags, 0x1311u);
  Port.SetOptions(AfOption(coParityCheck) | AfOption(coBreakControl));
  EXPECT_EQ(Port.Dcb().Flags, 0x1311u | 0x0002u | 0x4000u);
  Port.SetFlowControl(fwNone);
  Port.SetOptions(0);
  Port.SetDTR(false);
  Port.SetRTS(false);
  EXPECT_EQ(Port.Dcb().Flags, 0x1011u);  // lines are picked up at the next rebuild
  Port.SetParity(paEven);
  EXPECT_EQ(Port.Dcb().Flags, 0x0001u);
  EXPECT_EQ(Port.Dcb().Parity, EVENPARITY);
}

TEST_F(AfComPortTest, FlowControlLimitsFollowTheInputBufferSize) {
  Port.SetInBufSize(4096);
  Port.SetFlowControl(fwXOnXOff);
  EXPECT_EQ(Port.XOnLim(), 1024);
  EXPECT_EQ(Port.XOffLim(), 3072);
  Port.SetInBufSize(8000);
  EXPECT_EQ(Port.XOnLim(), 2000);
  EXPECT_EQ(Port.XOffLim(), 6000);
  Port.SetXOnLim(1000);
  EXPECT_EQ(Port.XOffLim(), 7000);
  Port.SetFlowControl(fwNone);
  EXPECT_EQ(Port.XOnLim(), 0);
  EXPECT_EQ(Port.XOffLim(), 0);
}

TEST_F(AfComPortTest, BufferSizesCannotChangeWhileOpen) {
  Port.Open();
  ASSERT_TRUE(Port.Active());
  EXPECT_EQ(ErrorOf([&] { Port.SetInBufSize(1024); }), "Port is not closed - Port1 ");
  EXPECT_EQ(ErrorOf([&] { Port.SetOutBufSize(1024); }), "Port is not closed - Port1 ");
  EXPECT_EQ(Port.InBufSize(), 4096);
  EXPECT_EQ(Port.OutBufSize(), 2048);
  EXPECT_THROW(Port.SetInBufSize(1024), EAfComPortError);
}

TEST_F(AfComPortTest, OpenAndCloseFireTheirEventsAndCloseFiresAlsoWhenClosed) {
  int Opened = 0, Closed = 0;
  Port.OnPortOpen = [&](TAfCustomSerialPort*) { ++Opened; };
  Port.OnPortClose = [&](TAfCustomSerialPort* Sender) {
    EXPECT_EQ(Sender, &Port);
    ++Closed;
  };
  Port.Close();
  EXPECT_EQ(Closed, 1);
  Port.Open();
  Port.Open();  // already open: nothing
  EXPECT_EQ(Opened, 1);
  Port.Close();
  EXPECT_EQ(Closed, 2);
  EXPECT_FALSE(Port.Active());
  EXPECT_FALSE(Line->IsOpen());
}

TEST_F(AfComPortTest, FailedOpenPassesTheCoreErrorAndFiresNoOpenEvent) {
  int Opened = 0;
  Port.OnPortOpen = [&](TAfCustomSerialPort*) { ++Opened; };
  Port.SetComNumber(8);
  EXPECT_EQ(ErrorOf([&] { Port.Open(); }), "Invalid port number (COM8)");
  EXPECT_EQ(Opened, 0);
  EXPECT_FALSE(Port.Active());
}

TEST_F(AfComPortTest, WritesAreQueuedWholeOrRefusedWithTheFreeSpace) {
  Port.WriteString("");  // closed and empty: nothing, no error
  EXPECT_EQ(ErrorOf([&] { Port.WriteString("x"); }),
            "Write data error [requested: 1, free: 0] - Port1 ");
  Port.Open();
  Line->SetWriteStalled(true);
  std::string Big(3000, 'b');
  EXPECT_EQ(ErrorOf([&] { Port.WriteString(Big); }),
            "Write data error [requested: 3000, free: 2048] - Port1 ");
  EXPECT_EQ(Port.OutputSpace(), 2048);
  Port.WriteString("hello");
  Line->SetWriteStalled(false);
  ASSERT_TRUE(WaitUntil([&] { return Line->Written() == "hello"; }));
}

TEST_F(AfComPortTest, ReadsGiveWhatIsQueuedAndShortReadsFail) {
  Port.Open();
  Line->Receive("abcdef");
  EXPECT_EQ(Port.InQueueCount(), 6);
  char Two[2];
  Port.ReadData(Two, 2);
  EXPECT_EQ(std::string(Two, 2), "ab");
  EXPECT_EQ(Port.ReadString(), "cdef");
  EXPECT_EQ(Port.ReadString(), "");
  char Four[4];
  EXPECT_EQ(ErrorOf([&] { Port.ReadData(Four, 4); }), "Read data error - Port1 ");
  Port.Close();
  EXPECT_EQ(ErrorOf([&] { Port.ReadData(Four, 4); }), "Read data error - Port1 ");
}

TEST_F(AfComPortTest, EventsArriveOnTheMainThreadWithSyncEventFirst) {
  std::vector<std::string> Seen;
  std::thread::id Thread;
  Port.OnSyncEvent = [&](TAfCustomSerialPort*, TAfCoreEvent Kind, std::uint32_t Data) {
    Seen.push_back("sync " + std::to_string(Kind) + " " + std::to_string(Data));
  };
  Port.OnDataRecived = [&](TAfCustomSerialPort*, std::int32_t Count) {
    Thread = std::this_thread::get_id();
    Seen.push_back("data " + std::to_string(Count));
  };
  Port.OnOutBufFree = [&](TAfCustomSerialPort*) { Seen.push_back("outfree"); };
  Port.Open();
  Line->Receive("12345");
  ASSERT_TRUE(Main.PumpUntil([&] { return Seen.size() >= 2; }));
  EXPECT_EQ(Seen[0], "sync 1 1");
  EXPECT_EQ(Seen[1], "data 5");
  EXPECT_EQ(Thread, std::this_thread::get_id());
  Port.ReadString();
  Seen.clear();
  Port.WriteString("out");
  ASSERT_TRUE(Main.PumpUntil([&] { return Seen.size() >= 2; }));
  EXPECT_EQ(Seen, (std::vector<std::string>{"sync 0 0", "outfree"}));
}

TEST_F(AfComPortTest, UnreadBytesKeepComingAsDataReceived) {
  std::vector<std::int32_t> Counts;
  Port.OnDataRecived = [&](TAfCustomSerialPort*, std::int32_t Count) { Counts.push_back(Count); };
  Port.Open();
  Line->Receive("abc");
  ASSERT_TRUE(Main.PumpUntil([&] { return Counts.size() >= 3; }));
  for (auto Count : Counts) EXPECT_EQ(Count, 3);
}

TEST_F(AfComPortTest, LineEventsFireTheirNotificationsInOrder) {
  std::vector<std::string> Seen;
  Port.OnLineError = [&](TAfCustomSerialPort*, std::uint32_t Errors) {
    Seen.push_back("error " + std::to_string(Errors));
  };
  Port.OnCTSChanged = [&](TAfCustomSerialPort*) { Seen.push_back("cts"); };
  Port.OnDSRChanged = [&](TAfCustomSerialPort*) { Seen.push_back("dsr"); };
  Port.OnRINGDetected = [&](TAfCustomSerialPort*) { Seen.push_back("ring"); };
  Port.OnRLSDChanged = [&](TAfCustomSerialPort*) { Seen.push_back("rlsd"); };
  Port.Open();
  Line->SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  ASSERT_TRUE(Main.PumpUntil([&] { return Seen.size() >= 4; }));
  EXPECT_EQ(Seen, (std::vector<std::string>{"cts", "dsr", "ring", "rlsd"}));
  EXPECT_TRUE(Port.ModemLine(1));
  EXPECT_TRUE(Port.ModemLine(4));
  EXPECT_FALSE(Port.ModemLine(5));
  Seen.clear();
  Line->InjectErrors(CE_FRAME | CE_RXPARITY);
  ASSERT_TRUE(Main.PumpUntil([&] { return !Seen.empty(); }));
  EXPECT_EQ(Seen, std::vector<std::string>{"error 12"});
}

TEST_F(AfComPortTest, NonSyncHandlerTakesEveryReportOffTheMainThread) {
  std::atomic<int> NonSync{0};
  int Main_ = 0;
  Port.SetOnNonSyncEvent([&](TAfCustomSerialPort*, TAfCoreEvent, std::uint32_t) { ++NonSync; });
  Port.OnDataRecived = [&](TAfCustomSerialPort*, std::int32_t) { ++Main_; };
  Port.OnOutBufFree = [&](TAfCustomSerialPort*) { ++Main_; };
  Port.OnSyncEvent = [&](TAfCustomSerialPort*, TAfCoreEvent, std::uint32_t) { ++Main_; };
  Port.Open();
  Line->Receive("abc");
  Port.WriteString("x");
  ASSERT_TRUE(WaitUntil([&] { return NonSync >= 3; }));  // arrival, drained, a poll
  Main.PumpFor(100ms);
  EXPECT_EQ(Main_, 0);
}

TEST_F(AfComPortTest, RefusedSettingsOnAnOpenPortLeaveTheDeviceSettings) {
  Port.SetUserBaudRate(9600);
  Port.Open();
  DCB Device = Line->Settings();
  EXPECT_EQ(Device.BaudRate, 9600u);
  EXPECT_EQ(ErrorOf([&] { Port.SetDatabits(db4); }), "Error setting parameters from DCB");
  EXPECT_EQ(Port.Dcb(), Device);
  EXPECT_TRUE(Port.Active());
  Port.SetDatabits(db7);
  EXPECT_EQ(Line->Settings().ByteSize, 7);
}

TEST_F(AfComPortTest, ControlLinesFollowDtrAndRtsWhileOpen) {
  Port.Open();
  EXPECT_EQ(Line->ControlLines(), TAfSimLine::LineDtr | TAfSimLine::LineRts);
  Port.SetDTR(false);
  EXPECT_EQ(Line->ControlLines(), TAfSimLine::LineRts);
  Port.SetRTS(false);
  EXPECT_EQ(Line->ControlLines(), 0u);
}

TEST_F(AfComPortTest, ChangingThePortNumberWhileOpenMovesToTheNewPort) {
  int Opened = 0, Closed = 0;
  Port.OnPortOpen = [&](TAfCustomSerialPort*) { ++Opened; };
  Port.OnPortClose = [&](TAfCustomSerialPort*) { ++Closed; };
  Port.Open();
  Port.SetComNumber(5);
  EXPECT_TRUE(Port.Active());
  EXPECT_FALSE(Line->IsOpen());
  EXPECT_TRUE(Line5->IsOpen());
  EXPECT_EQ(Opened, 2);
  EXPECT_EQ(Closed, 1);
  EXPECT_EQ(Port.PortName(), "COM5");
}

TEST_F(AfComPortTest, DcbTakenIntoThePropertiesMapsToTheTables) {
  DCB D;
  D.BaudRate = 14400;
  D.ByteSize = 7;
  D.Parity = SPACEPARITY;
  D.StopBits = TWOSTOPBITS;
  D.Flags = fBinary | fOutX | fInX | fNull;
  D.XonChar = 1;
  D.XoffChar = 2;
  Port.SetDcbProperties(D);
  EXPECT_EQ(Port.BaudRate(), br14400);
  EXPECT_EQ(Port.Databits(), db7);
  EXPECT_EQ(Port.Parity(), paSpace);
  EXPECT_EQ(Port.Stopbits(), sbTwo);
  EXPECT_EQ(Port.FlowControl(), fwXOnXOff);
  EXPECT_EQ(Port.Options(), AfOption(coStripNull));
  EXPECT_EQ(Port.XOnChar(), 1);
  D.BaudRate = 12345;
  D.ByteSize = 3;
  D.Flags = fBinary | fOutxCtsFlow | fRtsControlHandshake | fOutxDsrFlow | fDtrControlHandshake;
  Port.SetDcbProperties(D);
  EXPECT_EQ(Port.BaudRate(), brUser);
  EXPECT_EQ(Port.UserBaudRate(), 12345);
  EXPECT_EQ(Port.Databits(), db8);
  EXPECT_EQ(Port.FlowControl(), fwDtrDsr);
  D.DCBlength = 27;
  EXPECT_EQ(ErrorOf([&] { Port.SetDcbProperties(D); }),
            "Error setting parameters from DCB - Port1 ");
}

TEST_F(AfComPortTest, SetupDialogChangesTakeEffectOnlyWhenConfirmed) {
  EXPECT_FALSE(Port.ShowSetupDialog());  // no dialog installed
  std::string Shown;
  bool Confirm = false;
  SetAfComSetupDialog([&](const std::string& Name, DCB& D) {
    Shown = Name;
    EXPECT_EQ(D.BaudRate, 115200u);
    D.BaudRate = 4800;
    return Confirm;
  });
  EXPECT_FALSE(Port.ShowSetupDialog());
  EXPECT_EQ(Shown, "COM3");
  EXPECT_EQ(Port.BaudRate(), br115200);
  Confirm = true;
  EXPECT_TRUE(Port.ShowSetupDialog());
  EXPECT_EQ(Port.BaudRate(), br4800);
  Port.SetComNumber(9);  // no such port: no dialog
  Shown.clear();
  EXPECT_FALSE(Port.ShowSetupDialog());
  EXPECT_EQ(Shown, "");
  SetAfComSetupDialog(nullptr);
}

TEST_F(AfComPortTest, ProbeTellsFreeBusyAndMissingPorts) {
  EXPECT_EQ(ProbeComPort(3).State, AfPortFree);
  Port.Open();
  EXPECT_EQ(ProbeComPort(3).State, AfPortInUse);
  EXPECT_EQ(ProbeComPort(3).Port, 3);
  EXPECT_EQ(ProbeComPort(4).State, AfPortMissing);
  EXPECT_EQ(ProbeComPort(0).State, AfPortMissing);
}

TEST_F(AfComPortTest, HungUpLineClosesThePortOnTheMainThreadOnce) {
  int Closed = 0;
  Port.OnPortClose = [&](TAfCustomSerialPort*) { ++Closed; };
  Port.Open();
  Line->HangUp();
  EXPECT_EQ(Port.InQueueCount(), -1);  // at once, before the port is closed
  ASSERT_TRUE(Main.PumpUntil([&] { return !Port.Active(); }));
  Main.PumpFor(50ms);
  EXPECT_EQ(Closed, 1);
  EXPECT_TRUE(Port.DeviceGone());
  EXPECT_FALSE(Line->IsOpen());
  EXPECT_EQ(Port.InQueueCount(), -1);
  EXPECT_NO_THROW(Port.SetUserBaudRate(19200));
  Port.Open();  // the line is back
  EXPECT_FALSE(Port.DeviceGone());
  EXPECT_EQ(Port.InQueueCount(), 0);
}

TEST_F(AfComPortTest, EventsWaitingLongerThanTheirDeliveryLimitArriveOnceEach) {
  int Cts = 0, Dsr = 0;
  Port.OnCTSChanged = [&](TAfCustomSerialPort*) { ++Cts; };
  Port.OnDSRChanged = [&](TAfCustomSerialPort*) { ++Dsr; };
  Port.Open();
  // The main thread is busy for longer than a report may wait for it.
  Line->SetModemStatus(MS_CTS_ON);
  std::this_thread::sleep_for(2300ms);
  Line->SetModemStatus(MS_CTS_ON | MS_DSR_ON);
  std::this_thread::sleep_for(300ms);
  Main.PumpFor(100ms);
  EXPECT_EQ(Cts, 1);
  EXPECT_EQ(Dsr, 1);
}

TEST_F(AfComPortTest, PurgedOutputNeitherGoesOutAfterThePurgeNorCutsTheNextRequest) {
  Port.Open();
  int Wrong = 0;
  for (int Round = 0; Round < 300 && Wrong == 0; ++Round) {
    const std::size_t Before = Line->Written().size();
    Port.WriteString(std::string(50, 'a'));
    Port.WriteString(std::string(20, 'b'));  // still queued while the first goes out
    Port.PurgeOutput();
    const std::string Request = "REQ" + std::to_string(Round) + std::string(300, 'r') + "\n";
    Port.WriteString(Request);
    WaitUntil([&] { return Line->Written().ends_with(Request); }, 1s);
    const std::string Sent = Line->Written().substr(Before);
    // Whatever of the purged bytes went out, went out before the request, which is whole.
    const std::size_t At = Sent.find("REQ");
    if (At == std::string::npos || Sent.substr(At) != Request ||
        Sent.find_first_not_of("ab") != At)
      ++Wrong;
  }
  EXPECT_EQ(Wrong, 0) << Line->Written().substr(Line->Written().size() - 400);
}

TEST_F(AfComPortTest, RefusedSettingLeavesThePropertiesAsTheLineIs) {
  Port.Open();
  Line->SetRefuseSettings(true);
  EXPECT_THROW(Port.SetDatabits(db7), EAfComPortCoreError);
  EXPECT_EQ(Port.Databits(), db8);
  EXPECT_THROW(Port.SetParity(paEven), EAfComPortCoreError);
  EXPECT_EQ(Port.Parity(), paNone);
  EXPECT_EQ(Port.Dcb(), Line->Settings());
}

TEST(AfCommunicationUtils, CharacterTimeIsTenBitsInMilliseconds) {
  EXPECT_DOUBLE_EQ(CharacterTime(9600), 1000.0 / 9600 * 10);
  EXPECT_DOUBLE_EQ(CharacterTime(10000), 1.0);
  EXPECT_THROW(CharacterTime(0), Exception);
}

TEST(AfComPortLifetime, DestroyingAnOpenPortClosesItWithoutTheCloseEvent) {
  TTestMainThread Main;
  auto Line = std::make_shared<TAfSimLine>();
  TTestLines Lines{{{2, Line}}};
  int Closed = 0;
  {
    TAfComPort Port;
    Port.OnPortClose = [&](TAfCustomSerialPort*) { ++Closed; };
    Port.SetComNumber(2);
    Port.Open();
    Line->Receive("pending");  // a report may be on its way to the main thread
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(Closed, 0);
  EXPECT_FALSE(Line->IsOpen());
  Main.PumpFor(50ms);  // a late delivery finds no slot
}

}  // namespace
