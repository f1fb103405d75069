// The COM port path end to end: the channel, the port engine and termios over a
// pseudo-terminal, with a simulated module on the far side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "SerialTestUtils.h"
#include "comm/uci_ISerialPortInterface.h"
#include "protocol/uKVXxxCommands.h"
#include "serial/AfComPort.h"
#include "serial/AfPosixComDevice.h"
#include "serial/uCommunicationUtils.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"
#include "tests/serial/KernelHangUp.h"

namespace {

using namespace std::chrono_literals;

struct TClosedCounter {
  int Closed = 0;
  void OnClosed(const TIntfPtr<ICommunicationInterface>&) { ++Closed; }
};

class SerialPtyTest : public ::testing::Test {
 protected:
  static constexpr int ComNumber = 150;
  TTestMainThread Main;
  TKvxSimState State = KvxSimFactoryState(mtRS, 4711);  // answers at 9600 bit/s only
  std::shared_ptr<TKvxSimModule> Module = std::make_shared<TKvxSimModule>(State);
  TSimPty Pty{Module};

  void SetUp() override {
    ASSERT_EQ(kSpeedCodes[State.SpeedCode], 9600u);
    std::string Map = Format("%d=%s;151=/dev/kvx-no-such-node", ComNumber, Pty.SlavePath().c_str());
    setenv("KVX_COMPORTS", Map.c_str(), 1);
  }
  void TearDown() override { unsetenv("KVX_COMPORTS"); }
};

TEST_F(SerialPtyTest, ChannelFindsTheModuleOnlyAtItsSpeed) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d", ComNumber));
  ASSERT_TRUE(Channel->Open());
  EXPECT_EQ(Channel->GetPortName(), "COM150");
  EXPECT_EQ(Pty.LineSpeed(), 9600u);
  EXPECT_TRUE(CheckDevice(Channel));
  Channel->SetConnectionString("baudrate=115200");
  EXPECT_EQ(Pty.LineSpeed(), 115200u);
  EXPECT_FALSE(CheckDevice(Channel));
  Channel->SetConnectionString("baudrate=9600");
  EXPECT_TRUE(CheckDevice(Channel));
}

TEST_F(SerialPtyTest, FullDownloadMatchesTheSimulatedModule) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d;baudrate=9600", ComNumber));
  ASSERT_TRUE(Channel->Open());
  TKVXChannelTransactor Transactor(Channel);
  TKVXrec Rec;
  ASSERT_TRUE(KvxDownloadParams(Rec, Transactor.Method()));
  EXPECT_EQ(Rec.ModuleType, State.Model);
  EXPECT_EQ(Rec.Ident.TypeText, State.TypeText);
  EXPECT_EQ(Rec.Ident.UserData, Trim(State.UserData));
  EXPECT_EQ(Rec.Ident.Address, State.Address);
  EXPECT_EQ(Rec.Ident.Production.SerialNumber, 4711);
  for (int Ch = 1; Ch <= kChannelCount; ++Ch) {
    EXPECT_EQ(Rec.Setup[Ch], State.Channels[Ch].Setup) << "channel " << Ch;
    EXPECT_EQ(Rec.Watch[Ch], State.Channels[Ch].Watch) << "channel " << Ch;
  }
}

TEST_F(SerialPtyTest, ProbeTellsFreeHeldAndMissingPorts) {
  EXPECT_EQ(ProbeComPort(ComNumber).State, AfPortFree);
  EXPECT_EQ(ProbeComPort(151).State, AfPortMissing);
  int Ready[2], Release[2];
  ASSERT_EQ(pipe(Ready), 0);
  ASSERT_EQ(pipe(Release), 0);
  pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {  // another program holding the port
    close(Release[1]);
    int Fd = open(Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    char Ok = Fd >= 0 && flock(Fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    [[maybe_unused]] auto W = write(Ready[1], &Ok, 1);
    char Any;
    [[maybe_unused]] auto R = read(Release[0], &Any, 1);
    _exit(0);
  }
  close(Ready[1]);
  close(Release[0]);
  char Ok = 0;
  ASSERT_EQ(read(Ready[0], &Ok, 1), 1);
  ASSERT_EQ(Ok, 'y');
  EXPECT_EQ(ProbeComPort(ComNumber).State, AfPortInUse);
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d", ComNumber));
  EXPECT_FALSE(Channel->Open());
  close(Release[1]);
  int Status;
  waitpid(Child, &Status, 0);
  close(Ready[0]);
  EXPECT_EQ(ProbeComPort(ComNumber).State, AfPortFree);
  EXPECT_TRUE(Channel->Open());
}

TEST_F(SerialPtyTest, NotPresentClosesTheChannelAndRaisesClosed) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d", ComNumber));
  TClosedCounter Counter;
  Channel->GetClosedEvents().Add(TCiNotify::Bind<&TClosedCounter::OnClosed>(&Counter));
  ASSERT_TRUE(Channel->Open());
  Channel->SetPresent(false);
  EXPECT_FALSE(Channel->GetActive());
  EXPECT_EQ(Counter.Closed, 1);
  EXPECT_EQ(ProbeComPort(ComNumber).State, AfPortFree);  // the lock went with the port
}

TEST_F(SerialPtyTest, PseudoTerminalHasNoModemLinesAndIgnoresControlLines) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d", ComNumber));
  ASSERT_TRUE(Channel->Open());
  EXPECT_FALSE(Channel->GetCTS());
  EXPECT_FALSE(Channel->GetDSR());
  EXPECT_NO_THROW(Channel->SetDTR(false));
  EXPECT_NO_THROW(Channel->SetRTS(false));
  EXPECT_TRUE(Channel->GetActive());
}

TEST_F(SerialPtyTest, LineSettingsReachTheTerminalAndRefusalsKeepTheDevicesOwn) {
  TAfComPort Port;
  Port.SetComNumber(ComNumber);
  Port.SetUserBaudRate(12345);  // not a standard rate: termios2 takes it as it is
  Port.SetParity(paMark);
  Port.Open();
  EXPECT_EQ(Pty.LineSpeed(), 12345u);
  DCB Device;
  ASSERT_TRUE(Port.Handle()->GetCommState(Device));
  EXPECT_EQ(Device.Parity, MARKPARITY);
  EXPECT_THROW(Port.SetFlowControl(fwDtrDsr), EAfComPortCoreError);
  EXPECT_EQ(Port.Dcb(), Device);
  EXPECT_EQ(Pty.LineSpeed(), 12345u);
}

TEST_F(SerialPtyTest, KernelHangUpClosesTheChannelAndEveryOperationAnswersAtOnce) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d;baudrate=9600", ComNumber));
  TClosedCounter Counter;
  Channel->GetClosedEvents().Add(TCiNotify::Bind<&TClosedCounter::OnClosed>(&Counter));
  ASSERT_TRUE(Channel->Open());
  ASSERT_TRUE(CheckDevice(Channel));
  if (const std::string Why = KernelHangUp(Pty.SlavePath()); !Why.empty()) GTEST_SKIP() << Why;
  EXPECT_TRUE(Main.PumpUntil([&] { return Counter.Closed > 0; }));
  EXPECT_EQ(Counter.Closed, 1);
  EXPECT_FALSE(Channel->GetActive());
  EXPECT_EQ(Channel->InputCount(), -1);
  EXPECT_TRUE(IsDeviceGone(*Channel));
  std::string Reply = "stale";
  EXPECT_LT(Timed([&] { Channel->Query("request", 5000, Reply); }), 1000ms);
  EXPECT_EQ(Reply, "");
  EXPECT_EQ(Channel->Write("request"), 0);
  EXPECT_NO_THROW(Channel->SetConnectionString("baudrate=115200;databits=7"));
  // The descriptor is gone with the port: the same line opens again, as a replugged one does.
  EXPECT_EQ(ProbeComPort(ComNumber).State, AfPortFree);
  ASSERT_TRUE(Channel->Open());
  EXPECT_GE(Channel->InputCount(), 0);
  Channel->SetConnectionString("baudrate=9600;databits=8");
  EXPECT_TRUE(CheckDevice(Channel));
}

TEST_F(SerialPtyTest, ExchangeOnAHungUpLineEndsAtOnceWhileNobodyPumps) {
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d;baudrate=9600", ComNumber));
  ASSERT_TRUE(Channel->Open());
  if (const std::string Why = KernelHangUp(Pty.SlavePath()); !Why.empty()) GTEST_SKIP() << Why;
  std::string Reply;
  EXPECT_LT(Timed([&] { EXPECT_FALSE(CheckDevice(Channel)); }), 1000ms);
  EXPECT_EQ(Channel->InputCount(), -1);
}

TEST_F(SerialPtyTest, ModuleAnsweringOnlyAtThreeHundredBitsPerSecondIsFound) {
  // At 300 bit/s the check's request alone takes 300 ms and each reply byte 33 ms.
  TKvxSimState Slow = KvxSimFactoryState(mtRS, 300);
  Slow.SpeedCode = 1;
  Module->SetState(Slow);
  auto Channel = Create<TSerialPortInterface>(Format("comport=%d;baudrate=300", ComNumber));
  ASSERT_TRUE(Channel->Open());
  EXPECT_EQ(Pty.LineSpeed(), 300u);
  EXPECT_TRUE(CheckDevice(Channel));
}

TEST(SerialPtyDevice, BytesArrivingAfterTheQueueWasDrainedAreReportedAsArrived) {
  const int Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(Master, 0);
  char Name[128];
  ASSERT_EQ(::grantpt(Master), 0);
  ASSERT_EQ(::unlockpt(Master), 0);
  ASSERT_EQ(::ptsname_r(Master, Name, sizeof Name), 0);
  TAfOpenError Error;
  auto Device = AfOpenPosixComDeviceAt(Name, Error);
  ASSERT_TRUE(Device);
  DCB Raw;
  Raw.BaudRate = 9600;
  Raw.ByteSize = 8;
  Raw.Flags = fBinary;
  ASSERT_TRUE(Device->SetCommState(Raw));
  ASSERT_TRUE(Device->SetCommMask(EV_RXCHAR));
  std::uint32_t Mask = 0;
  ASSERT_EQ(::write(Master, "12345", 5), 5);
  ASSERT_EQ(Device->WaitCommEvent(Mask, 1000), TAfWaitResult::Event);
  EXPECT_EQ(Mask, EV_RXCHAR);
  char Buffer[16];
  EXPECT_EQ(Device->Read(Buffer, sizeof Buffer), 5);
  // Fewer bytes than were there before: the count alone would not show them as new.
  ASSERT_EQ(::write(Master, "678", 3), 3);
  std::this_thread::sleep_for(20ms);
  Mask = 0;
  EXPECT_EQ(Device->WaitCommEvent(Mask, 300), TAfWaitResult::Event);
  EXPECT_EQ(Mask, EV_RXCHAR);
  Device.reset();
  ::close(Master);
}

// Sends back whatever it hears, at once.
class TEchoPeer : public ISimPeer {
 public:
  void Write(std::string_view Bytes, std::uint32_t, Clock::time_point) override {
    std::lock_guard Guard(FLock);
    FBytes.append(Bytes);
  }
  std::string Read(Clock::time_point) override {
    std::lock_guard Guard(FLock);
    return std::exchange(FBytes, {});
  }
  std::size_t Available(Clock::time_point) const override {
    std::lock_guard Guard(FLock);
    return FBytes.size();
  }
  std::optional<Clock::time_point> NextDue() const override {
    std::lock_guard Guard(FLock);
    if (FBytes.empty()) return std::nullopt;
    return Clock::now();
  }

 private:
  mutable std::mutex FLock;
  std::string FBytes;
};

TEST(SerialPtyRaw, EveryByteValueCrossesTheLineUnchanged) {
  TTestMainThread Main;
  TSimPty Echo(std::make_shared<TEchoPeer>());
  setenv("KVX_COMPORTS", ("152=" + Echo.SlavePath()).c_str(), 1);
  TAfComPort Port;
  Port.SetComNumber(152);
  Port.SetBaudRate(br115200);
  Port.Open();
  std::string Frame;
  for (int i = 0; i < 256; ++i) Frame += static_cast<char>(i);  // CR, LF, XON, XOFF included
  Port.WriteString(Frame);
  std::string Back;
  ASSERT_TRUE(WaitUntil([&] {
    Back += Port.ReadString();
    return Back.size() >= Frame.size();
  }));
  EXPECT_EQ(Back, Frame);
  Port.Close();
  unsetenv("KVX_COMPORTS");
}

}  // namespace
