// The USB adapter channel on the fake driver library.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uProgramArgs.h"
#include "tests/support/LogTestHooks.h"
#include "tests/support/TempDir.h"
#include "tests/usb/EchoPeer.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uUsbNode.h"
#include "usb/uci_FTDIdirect.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const kDefaults = "baudrate=115200;databits=8;stopbits=One;parity=None;dtr=0;rts=0";

// Counts the notifications of a channel and collects what the data handler reads. Declared
// before the device it listens to, so that it outlives the device's reader thread. Tests
// with data flowing close the device before dropping it: a notification in flight holds a
// reference of its own, and dropping the last two at once on two threads is not safe.
class TListener {
 public:
  void Opened(const TIntfPtr<ICommunicationInterface>&) { ++OpenedCount; }
  void Closed(const TIntfPtr<ICommunicationInterface>&) { ++ClosedCount; }
  void DataReceived(const TIntfPtr<ICommunicationInterface>& Channel) {
    ++DataCount;
    std::string data;
    Channel->Read(data);
    if (CloseInHandler) {
      Channel->Close(false);
      ClosedFromHandler = true;
    }
    std::lock_guard lock(Mutex);
    Received += data;
    Changed.notify_all();
  }
  // Waits until Count bytes came, at most Limit; the bytes received so far.
  std::string WaitFor(std::size_t Count, std::chrono::milliseconds Limit) {
    std::unique_lock lock(Mutex);
    Changed.wait_for(lock, Limit, [&] { return Received.size() >= Count; });
    return Received;
  }
  void Attach(ICommunicationInterface& Channel) {
    Channel.GetOpenedEvents().Add(Bind<&TListener::Opened>(this));
    Channel.GetClosedEvents().Add(Bind<&TListener::Closed>(this));
    Channel.GetDataReceivedEvents().Add(Bind<&TListener::DataReceived>(this));
  }

  std::atomic<int> OpenedCount{0}, ClosedCount{0}, DataCount{0};
  std::atomic<bool> CloseInHandler{false}, ClosedFromHandler{false};
  std::mutex Mutex;
  std::condition_variable Changed;
  std::string Received;
};

class FTDIDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeFtdi_Reset(); }
  void TearDown() override { FakeFtdi_Reset(); }

  static TIntfPtr<ICommunicationInterface> Channel(const char* Serial) {
    return Create<TFTDIDevice>(std::string(Serial), std::string());
  }
  TEchoPeer Peer;
};

TEST_F(FTDIDeviceTest, OpenIsRefusedWithoutSerialNumberOrWhenOpen) {
  FakeFtdi_AddAdapter("S1", "One", nullptr);
  auto none = Channel("");
  EXPECT_FALSE(none->Open());
  EXPECT_FALSE(none->GetActive());
  EXPECT_EQ(FakeFtdi_CallCount("FT_OpenEx"), 0);

  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  EXPECT_TRUE(device->Open());
  EXPECT_TRUE(device->GetActive());
  EXPECT_FALSE(device->Open());
  EXPECT_EQ(FakeFtdi_CallCount("FT_OpenEx"), 1);
  EXPECT_EQ(FakeFtdi_CallCount("FT_ResetDevice"), 1);
  EXPECT_EQ(listener.OpenedCount, 1);
  EXPECT_TRUE(device->Close(false));
  EXPECT_EQ(listener.ClosedCount, 1);
  EXPECT_TRUE(device->Close(false));  // closed already: true, no second notification
  EXPECT_EQ(listener.ClosedCount, 1);
}

// The driver refuses a held adapter and a closed node alike; the node tells them apart, as
// seen by a user who is not root (root may open any node).
TEST(UsbNode, ARefusedAdapterIsInUseUnlessTheUserMayNotOpenItsNode) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a check as another user";
  const TTempDir dir;
  std::filesystem::permissions(dir.Dir(), std::filesystem::perms::all);
  const struct {
    const char* What;
    int Mode;  // of the node; -1: no node known
    TOpenFailure Refusal;
  } cases[] = {
      {"a node only root may open", 0600, TOpenFailure::Denied},
      {"a node open to everyone", 0666, TOpenFailure::InUse},
      {"no node known", -1, TOpenFailure::InUse},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.What);
    std::string node;
    if (test.Mode >= 0) {
      node = dir.File("004");
      std::ofstream{node};
      ASSERT_EQ(::chmod(node.c_str(), static_cast<mode_t>(test.Mode)), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      constexpr uid_t kNobody = 65534;
      if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody))
        ::_exit(100);
      ::_exit(static_cast<int>(RefusalOf(node)));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(test.Refusal));
  }
  EXPECT_EQ(UsbDeviceNode("KVX-NO-SUCH-ADAPTER"), "");
}

TEST_F(FTDIDeviceTest, AdapterOperationsNeedAnOpenDevice) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Create<TFTDIDevice>(std::string("S1"), std::string("hub 2 port 3"));
  EXPECT_EQ(device->GetLocation(), "hub 2 port 3");
  EXPECT_FALSE(device->ResetDevice());
  EXPECT_FALSE(device->EraseEeprom());
  EXPECT_EQ(FakeFtdi_CallCount("FT_ResetDevice"), 0);
  ASSERT_TRUE(device->Open());
  EXPECT_NE(device->GetDriverHandle(), nullptr);
  EXPECT_TRUE(device->ResetDevice());
  EXPECT_TRUE(device->EraseEeprom());
  FakeFtdi_FailEntry("FT_EraseEE", FT_IO_ERROR);
  EXPECT_FALSE(device->EraseEeprom());
  EXPECT_TRUE(device->Close(false));
  EXPECT_EQ(device->GetDriverHandle(), nullptr);
}

TEST_F(FTDIDeviceTest, OpenOfAnUnknownAdapterFails) {
  auto device = Channel("NOPE");
  EXPECT_FALSE(device->Open());
  EXPECT_FALSE(device->GetActive());
}

TEST_F(FTDIDeviceTest, FreshDeviceConnectionString) {
  auto device = Channel("S1");
  EXPECT_EQ(device->GetConnectionString(),
            std::string("provider=FTD_USB;serial_number=S1;") + kDefaults);
  EXPECT_EQ(device->GetPortName(), "S1");
  auto usb = TIntfPtr<ICommunicationInterface>(device).Query<IFTDISerialPortInterface>();
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->GetDeviceIndex(), -1);
  EXPECT_EQ(usb->GetDeviceDescription(), "");
  EXPECT_EQ(usb->GetDriverHandle(), nullptr);
  EXPECT_TRUE(device.Query<ISerialPortInterface>());
}

TEST_F(FTDIDeviceTest, DeviceFromTheListReadsSerialAndDescription) {
  FakeFtdi_AddAdapter("A0", "First", nullptr);
  FakeFtdi_AddAdapter("B1", "Second", nullptr);
  auto device = Create<TFTDIDevice>(1, std::string());
  EXPECT_EQ(device->GetPortName(), "B1");
  EXPECT_EQ(device->GetDescription(), "Second");
  EXPECT_EQ(device->GetDeviceIndex(), 1);

  FakeFtdi_FailEntry("FT_GetDeviceInfoDetail", FT_DEVICE_NOT_FOUND);
  auto failed = Create<TFTDIDevice>(0, std::string());
  EXPECT_EQ(failed->GetPortName(), "");
  EXPECT_EQ(failed->GetDescription(), "");
}

TEST_F(FTDIDeviceTest, ConnectionStringWithAnotherSerialReopensTheOtherAdapter) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  FakeFtdi_AddAdapter("S2", "", nullptr);
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  device->SetConnectionString("serial_number=S2;baudrate=9600");
  EXPECT_TRUE(device->GetActive());
  EXPECT_FALSE(FakeFtdi_IsOpen("S1"));
  EXPECT_TRUE(FakeFtdi_IsOpen("S2"));
  EXPECT_EQ(device->GetPortName(), "S2");
  EXPECT_EQ(FakeFtdi_BaudRate("S2"), 9600u);
  EXPECT_EQ(listener.OpenedCount, 2);
  EXPECT_EQ(listener.ClosedCount, 1);

  // A closed device only takes the new number.
  device->Close(false);
  device->SetConnectionString("serial_number=S1");
  EXPECT_FALSE(device->GetActive());
  EXPECT_FALSE(FakeFtdi_IsOpen("S1"));
  EXPECT_EQ(device->GetPortName(), "S1");
}

TEST_F(FTDIDeviceTest, ConnectionStringRoundTripKeepsSettings) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  ASSERT_TRUE(device->Open());
  device->SetConnectionString("baudrate=19200;databits=7;parity=even;stopbits=2;dtr=1;rts=-1");
  const std::string text = device->GetConnectionString();
  EXPECT_EQ(text,
            "provider=FTD_USB;serial_number=S1;baudrate=19200;databits=7;stopbits=Two;"
            "parity=Even;dtr=-1;rts=-1");
  device->SetConnectionString(text);
  EXPECT_EQ(device->GetConnectionString(), text);
  EXPECT_TRUE(device->GetActive());
}

TEST_F(FTDIDeviceTest, SpeedSetWhileClosedIsSentAtOpen) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Create<TFTDIDevice>(std::string("S1"), std::string());
  device->SetBaudRate(9600);
  EXPECT_EQ(device->GetBaudRate(), 9600);
  EXPECT_EQ(FakeFtdi_CallCount("FT_SetBaudRate"), 0);
  EXPECT_NEAR(device->GetCharTime(), 1000.0 / 9600 * 10, 1e-9);
  ASSERT_TRUE(device->Open());
  EXPECT_EQ(FakeFtdi_BaudRate("S1"), 9600u);
  // A speed the driver refuses keeps the old one.
  device->SetBaudRate(5000000);
  EXPECT_EQ(device->GetBaudRate(), 9600);
  EXPECT_TRUE(device->GetActive());
}

TEST_F(FTDIDeviceTest, LineSettingsNeedAnOpenDeviceAndAnAcceptingDriver) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Create<TFTDIDevice>(std::string("S1"), std::string());
  device->SetDataBits(7);
  device->SetDTR(true);
  device->SetRTS(true);
  EXPECT_EQ(device->GetDataBits(), 8);  // the driver refuses the null handle
  EXPECT_FALSE(device->GetDTR());
  EXPECT_FALSE(device->GetRTS());
  ASSERT_TRUE(device->Open());
  device->SetDataBits(7);
  device->SetParity(2);
  device->SetStopBits(2);
  device->SetDTR(true);
  device->SetRTS(true);
  EXPECT_EQ(device->GetDataBits(), 7);
  EXPECT_EQ(device->GetParity(), 2);
  EXPECT_EQ(device->GetStopBits(), 2);
  EXPECT_TRUE(device->GetDTR());
  EXPECT_TRUE(device->GetRTS());
  device->SetDataBits(5);  // refused by the driver
  device->SetStopBits(1);  // likewise
  EXPECT_EQ(device->GetDataBits(), 7);
  EXPECT_EQ(device->GetStopBits(), 2);
  EXPECT_FALSE(device->GetCTS());
  EXPECT_FALSE(device->GetDSR());
  EXPECT_EQ(device->GetInBufSize(), 0);
}

TEST_F(FTDIDeviceTest, ReaderThreadDeliversDataFromTheAdapter) {
  FakeFtdi_AddAdapter("E1", "Echo", &Peer);
  TListener listener;
  auto device = Channel("E1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  EXPECT_EQ(device->Write("hello, module"), 13);
  EXPECT_EQ(listener.WaitFor(13, 3s), "hello, module");
  EXPECT_GE(listener.DataCount, 1);
  EXPECT_TRUE(device->Close(false));
}

TEST_F(FTDIDeviceTest, BytesLeftByAReadAreNotifiedAgainWithoutWaitingForThePoll) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  FakeFtdi_SetReadChunk("S1", 1);  // each read takes one byte and leaves the rest
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  const auto start = Clock::now();
  FakeFtdi_Receive("S1", "0123456789", 10);
  EXPECT_EQ(listener.WaitFor(10, 5s), "0123456789");
  // Ten rounds through the 100 ms poll would take about a second.
  EXPECT_LT(Clock::now() - start, 600ms);
  EXPECT_GE(listener.DataCount, 10);
  EXPECT_TRUE(device->Close(false));
}

TEST_F(FTDIDeviceTest, WithoutTheDriverEventTheReaderStillPolls) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  FakeFtdi_FailEntry("FT_SetEventNotification", FT_INSUFFICIENT_RESOURCES);
  std::vector<std::string> messages;
  TMessageHandler previous =
      SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  EXPECT_TRUE(device->Open());
  SetMessageHandler(previous);
  EXPECT_EQ(messages, std::vector<std::string>{"5"});
  FakeFtdi_Receive("S1", "abc", 3);
  EXPECT_EQ(listener.WaitFor(3, 3s), "abc");
  EXPECT_TRUE(device->Close(false));
}

TEST_F(FTDIDeviceTest, IoErrorClosesTheDeviceOtherFailuresDoNot) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());

  FakeFtdi_FailEntry("FT_Write", FT_INVALID_PARAMETER);
  EXPECT_EQ(device->Write("abc"), 0);
  EXPECT_TRUE(device->GetActive());
  FakeFtdi_FailEntry("FT_Write", 0);

  FakeFtdi_Unplug("S1");
  EXPECT_EQ(device->Write("abc"), 0);
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(listener.ClosedCount, 1);
  EXPECT_FALSE(device->Open());  // the adapter is gone
  FakeFtdi_Plug("S1");
  EXPECT_TRUE(device->Open());
  EXPECT_TRUE(device->Close(false));
}

// On real hardware the trace is how a failing driver call is found: it names the call.
TEST_F(FTDIDeviceTest, AFailingDriverCallIsNamedInTheTrace) {
  TTempDir logDir;
  SetProgramArgs({"kvxsetup", "DEBUG"});
  SetDebugLogDirectory(logDir.Dir());
  StartDebugLog();
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  ASSERT_TRUE(device->Open());
  FakeFtdi_FailEntry("FT_Write", FT_INVALID_PARAMETER);
  EXPECT_EQ(device->Write("abc"), 0);
  FakeFtdi_FailEntry("FT_Write", 0);
  EXPECT_TRUE(device->Close(false));
  const std::string trace = ReadBytes(DebugLogFileName());
  ShutdownDebugLog();
  SetDebugLogDirectory("");
  SetProgramArgs({"kvxsetup"});
  EXPECT_NE(trace.find("USB adapter S1: Write failed, status 6 - Invalid Parameter"),
            std::string::npos)
      << trace;
}

TEST_F(FTDIDeviceTest, TheAdapterOffersNoSettingsDialog) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  device->SetConnectionString("baudrate=9600");
  EXPECT_FALSE(device->HasSettingsDialog());
  EXPECT_FALSE(device->ShowSettingsDialog());
  EXPECT_NE(device->GetConnectionString().find("baudrate=9600"), std::string::npos);
}

TEST_F(FTDIDeviceTest, FailedCloseLeavesTheDeviceClosed) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  ASSERT_TRUE(device->Open());
  FakeFtdi_FailEntry("FT_Close", FT_DEVICE_NOT_OPENED);
  EXPECT_FALSE(device->Close(false));
  EXPECT_FALSE(device->GetActive());
  FakeFtdi_FailEntry("FT_Close", 0);
  // Dropping the device still ends its reader thread (checked by the sanitizers).
}

TEST_F(FTDIDeviceTest, DriverSignallingTheEventOfAHandleItFailedToCloseFindsItAlive) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  {
    auto device = Channel("S1");
    ASSERT_TRUE(device->Open());
    FakeFtdi_FailEntry("FT_Close", FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(device->Close(true));
  }
  // The driver kept the handle and its event (checked by the address sanitizer).
  FakeFtdi_Receive("S1", "late", 4);
  FakeFtdi_FailEntry("FT_Close", 0);
}

TEST_F(FTDIDeviceTest, ReopenedAfterAFailedCloseTheNewHandleGetsItsOwnEvent) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  FakeFtdi_AddAdapter("S2", "", &Peer);
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  FakeFtdi_FailEntry("FT_Close", FT_DEVICE_NOT_OPENED);
  EXPECT_FALSE(device->Close(false));
  FakeFtdi_FailEntry("FT_Close", 0);
  // The driver still holds the first adapter: the same device opens the second one.
  device->SetConnectionString("serial_number=S2");
  ASSERT_TRUE(device->Open());
  EXPECT_EQ(FakeFtdi_CallCount("FT_SetEventNotification"), 2);
  FakeFtdi_Receive("S2", "new", 3);
  EXPECT_EQ(listener.WaitFor(3, 2000ms), "new");
  EXPECT_TRUE(device->Close(false));  // the reader ends before the listener goes
}

TEST_F(FTDIDeviceTest, OpenOfAnAdapterThatRefusesItsSpeedIsFalse) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  for (const FT_STATUS status :
       {FT_IO_ERROR, FT_DEVICE_NOT_FOUND, FT_INSUFFICIENT_RESOURCES, FT_INVALID_PARAMETER}) {
    SCOPED_TRACE(status);
    FakeFtdi_FailEntry("FT_SetBaudRate", status);
    EXPECT_FALSE(device->Open());
    EXPECT_FALSE(device->GetActive());
    EXPECT_FALSE(FakeFtdi_IsOpen("S1"));
  }
  FakeFtdi_FailEntry("FT_SetBaudRate", 0);
  EXPECT_TRUE(device->Open());
  EXPECT_EQ(FakeFtdi_BaudRate("S1"), 115200u);
}

TEST_F(FTDIDeviceTest, PulledAdapterReportsItsDeviceGoneUntilItOpensAgain) {
  FakeFtdi_AddAdapter("S1", "", &Peer);
  TListener listener;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  FakeFtdi_Unplug("S1");
  std::string reply = "stale";
  device->Query("request", 5000, reply);
  EXPECT_EQ(reply, "");
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(device->InputCount(), -1);
  EXPECT_TRUE(IsDeviceGone(*device));
  EXPECT_EQ(listener.ClosedCount, 1);
  EXPECT_EQ(device->Write("abc"), 0);
  FakeFtdi_Plug("S1");
  ASSERT_TRUE(device->Open());
  EXPECT_EQ(device->InputCount(), 0);
  EXPECT_FALSE(IsDeviceGone(*device));
}

TEST_F(FTDIDeviceTest, CloseFromTheDataHandlerReturnsWithoutWaiting) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  TListener listener;  // outlives the device, whose reader thread calls it
  listener.CloseInHandler = true;
  auto device = Channel("S1");
  listener.Attach(*device);
  ASSERT_TRUE(device->Open());
  FakeFtdi_Receive("S1", "x", 1);
  EXPECT_EQ(listener.WaitFor(1, 3s), "x");
  const auto until = Clock::now() + 3s;
  while (!listener.ClosedFromHandler && Clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(listener.ClosedFromHandler);
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(listener.ClosedCount, 1);
  // The device can be opened again with a new reader.
  EXPECT_TRUE(device->Open());
  FakeFtdi_Receive("S1", "y", 1);
  EXPECT_EQ(listener.WaitFor(2, 3s), "xy");
  EXPECT_TRUE(device->Close(false));
}

TEST_F(FTDIDeviceTest, DroppingAnOpenDeviceClosesIt) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  ASSERT_TRUE(device->Open());
  EXPECT_TRUE(FakeFtdi_IsOpen("S1"));
  device.Reset();
  EXPECT_FALSE(FakeFtdi_IsOpen("S1"));
}

// Holds the only reference to a device and drops it from the data notification.
class TLastHolder {
 public:
  void DataReceived(const TIntfPtr<ICommunicationInterface>&) {
    Device.Reset();
    Dropped = true;
  }
  TIntfPtr<ICommunicationInterface> Device;
  std::atomic<bool> Dropped{false};
};

TEST_F(FTDIDeviceTest, LastReferenceDroppedInTheDataHandlerDestroysAndClosesTheDevice) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  TLastHolder holder;
  holder.Device = Channel("S1");
  holder.Device->GetDataReceivedEvents().Add(Bind<&TLastHolder::DataReceived>(&holder));
  ASSERT_TRUE(holder.Device->Open());
  FakeFtdi_Receive("S1", "x", 1);
  const auto until = Clock::now() + 3s;
  while ((!holder.Dropped || FakeFtdi_IsOpen("S1")) && Clock::now() < until)
    std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(holder.Dropped);
  EXPECT_FALSE(FakeFtdi_IsOpen("S1"));
}

TEST_F(FTDIDeviceTest, PresenceChangeClosesTheDevice) {
  FakeFtdi_AddAdapter("S1", "", nullptr);
  auto device = Channel("S1");
  ASSERT_TRUE(device->Open());
  device->SetPresent(true);
  EXPECT_TRUE(device->GetPresent());
  EXPECT_FALSE(device->GetActive());
  ASSERT_TRUE(device->Open());
  device->SetPresent(false);
  EXPECT_FALSE(device->GetPresent());
  EXPECT_FALSE(device->GetActive());
}

TEST_F(FTDIDeviceTest, QueryExchangesWithTheFarEnd) {
  FakeFtdi_AddAdapter("E1", "", &Peer);
  auto device = Channel("E1");
  device->SetConnectionString("baudrate=9600");
  ASSERT_TRUE(device->Open());
  std::string reply;
  device->Query("*a request\r", 200, reply,
                [](const std::string& r) -> std::uint16_t { return r.size() < 11; });
  EXPECT_EQ(reply, "*a request\r");
  EXPECT_TRUE(device->Close(false));
}

TEST_F(FTDIDeviceTest, RegisteredAsUsbChannelClass) {
  bool found = false;
  for (const auto& [tag, cls] : RegisteredChannelClasses())
    if (tag == "FTD_USB") found = cls == std::type_index(typeid(TFTDIDevice));
  EXPECT_TRUE(found);
}

}  // namespace
