#include "serial/AfComPortCore.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "SerialTestUtils.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TReport {
  TAfCoreEvent Kind;
  std::uint32_t Data;
  Clock::time_point At;
  std::exception_ptr Error;
};

class AfComPortCoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<TAfSimLine> Line = std::make_shared<TAfSimLine>();
  TTestLines Lines{{{3, Line}, {4, std::make_shared<TAfSimLine>()}}};
  std::mutex Lock;
  std::vector<TReport> Reports;
  std::function<void(TAfCoreEvent)> OnReport;  // runs inside the handler, on the event thread
  TAfComPortCore Core;

  void SetUp() override {
    DCB Dcb;
    Dcb.BaudRate = 9600;
    Dcb.ByteSize = 8;
    Dcb.Flags = fBinary | fDtrControlEnable | fRtsControlEnable;
    Core.ApplyDcb(Dcb);
    Core.SetOnEvent(
        [this](TAfComPortCore*, TAfCoreEvent Kind, std::uint32_t Data, std::exception_ptr Error) {
          {
            std::lock_guard Guard(Lock);
            Reports.push_back({Kind, Data, Clock::now(), Error});
          }
          if (OnReport) OnReport(Kind);
        });
  }
  std::vector<TReport> Of(TAfCoreEvent Kind) {
    std::lock_guard Guard(Lock);
    std::vector<TReport> Out;
    for (auto& R : Reports)
      if (R.Kind == Kind) Out.push_back(R);
    return Out;
  }
  std::size_t Count(TAfCoreEvent Kind) { return Of(Kind).size(); }
};

TEST_F(AfComPortCoreTest, InvalidMissingAndBusyPortsAreRefusedWithTheirTexts) {
  try {
    Core.OpenPort(0);
    FAIL();
  } catch (const EAfComPortCoreError& E) {
    EXPECT_STREQ(E.what(), "Invalid port number (COM0)");
  }
  try {
    Core.OpenPort(9);
    FAIL();
  } catch (const EAfComPortCoreError& E) {
    EXPECT_STREQ(E.what(), "Invalid port number (COM9)");
  }
  TAfComPortCore Other;
  Other.ApplyDcb(Core.Dcb());
  ASSERT_TRUE(Other.OpenPort(3));
  try {
    Core.OpenPort(3);
    FAIL();
  } catch (const EAfComPortCoreError& E) {
    EXPECT_STREQ(E.what(), "Can't open device COM3");
  }
  EXPECT_FALSE(Core.Active());
  EXPECT_EQ(Core.Handle(), nullptr);
}

TEST_F(AfComPortCoreTest, OpenOnActiveCoreKeepsItsPort) {
  ASSERT_TRUE(Core.OpenPort(3));
  EXPECT_FALSE(Core.OpenPort(4));
  EXPECT_EQ(Core.PortNumber(), 3);
  EXPECT_TRUE(Line->IsOpen());
  EXPECT_EQ(Line->Mask(), 0x1F9u);
}

TEST_F(AfComPortCoreTest, ClosedCoreAnswersFixedValuesWithoutTouchingTheDevice) {
  char Buffer[4];
  EXPECT_EQ(Core.ReadInput(Buffer, 4), -1);
  EXPECT_FALSE(Core.QueueOutput("ab", 2));
  EXPECT_EQ(Core.OutputSpace(), 0);
  EXPECT_FALSE(Core.PurgeInput());
  EXPECT_FALSE(Core.PurgeOutput());
  EXPECT_EQ(Core.LineStatus(), COMSTAT{});
  EXPECT_EQ(Core.TakeLineErrors(), 0u);
  EXPECT_EQ(Core.ModemLines(), 0u);
  EXPECT_FALSE(Core.EscapeLine(SETDTR));
  ASSERT_TRUE(Core.OpenPort(3));
  Core.ClosePort();
  std::size_t PurgesAfterClose = Line->Purges().size();
  EXPECT_EQ(Core.ReadInput(Buffer, 4), -1);
  EXPECT_FALSE(Core.PurgeInput());
  EXPECT_EQ(Line->Purges().size(), PurgesAfterClose);
}

TEST_F(AfComPortCoreTest, WriteOfExactlyTheFreeSpaceFillsTheBufferAndOneMoreIsRefused) {
  Core.SetOutQueueSize(16);
  ASSERT_TRUE(Core.OpenPort(3));
  Line->SetWriteStalled(true);
  ASSERT_TRUE(Core.QueueOutput("0123456789abcdef", 16));
  ASSERT_TRUE(Line->WaitForStalledWrite(5000));
  EXPECT_EQ(Core.OutputSpace(), 0);
  EXPECT_FALSE(Core.QueueOutput("x", 1));
  EXPECT_FALSE(Core.QueueOutput("", 0));
  Line->SetWriteStalled(false);
  ASSERT_TRUE(WaitUntil([&] { return Count(ceOutFree) == 1; }));
  EXPECT_EQ(Line->Written(), "0123456789abcdef");
  EXPECT_EQ(Core.OutputSpace(), 16);
}

TEST_F(AfComPortCoreTest, ExactlyOneOutFreeAfterTheLastBlockAlsoWhenTheQueueWraps) {
  Core.SetOutQueueSize(8);
  ASSERT_TRUE(Core.OpenPort(3));
  ASSERT_TRUE(Core.QueueOutput("abcdef", 6));
  ASSERT_TRUE(WaitUntil([&] { return Count(ceOutFree) == 1; }));
  Line->SetWriteStalled(true);
  ASSERT_TRUE(Core.QueueOutput("ghijk", 5));  // wraps: two blocks
  ASSERT_TRUE(Line->WaitForStalledWrite(5000));
  ASSERT_TRUE(Core.QueueOutput("lm", 2));
  Line->SetWriteStalled(false);
  ASSERT_TRUE(WaitUntil([&] { return Count(ceOutFree) == 2; }));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(Count(ceOutFree), 2u);
  EXPECT_EQ(Line->Written(), "abcdefghijklm");
  for (auto& R : Of(ceOutFree)) EXPECT_EQ(R.Data, 0u);
}

TEST_F(AfComPortCoreTest, UnreadBytesAreReportedAfterQuietAndAgainEveryPoll) {
  ASSERT_TRUE(Core.OpenPort(3));
  Line->Receive("xyz");
  ASSERT_TRUE(WaitUntil([&] { return Count(ceLineEvent) == 1; }));
  auto Arrival = Of(ceLineEvent)[0];
  EXPECT_EQ(Arrival.Data, EV_RXCHAR);
  ASSERT_TRUE(WaitUntil([&] { return Count(ceNeedReadData) >= 3; }));
  auto Polls = Of(ceNeedReadData);
  EXPECT_GE(Polls[0].At - Arrival.At, 150ms);
  for (std::size_t i = 1; i < Polls.size(); ++i) EXPECT_GE(Polls[i].At - Polls[i - 1].At, 150ms);
  for (auto& R : Polls) EXPECT_EQ(R.Data, 3u);
  char Buffer[8];
  EXPECT_EQ(Core.ReadInput(Buffer, 8), 3);
  std::size_t After = Count(ceNeedReadData);
  std::this_thread::sleep_for(600ms);
  EXPECT_LE(Count(ceNeedReadData), After + 1);  // one poll may have been under way
  EXPECT_EQ(Count(ceLineEvent), 1u);
}

TEST_F(AfComPortCoreTest, CloseWithAPendingWaitEndsBothThreadsAndReleasesTheDevice) {
  ASSERT_TRUE(Core.OpenPort(3));
  std::this_thread::sleep_for(50ms);
  Core.ClosePort();
  EXPECT_FALSE(Core.Active());
  EXPECT_EQ(Core.Handle(), nullptr);
  EXPECT_FALSE(Line->IsOpen());
  auto Purges = Line->Purges();
  ASSERT_FALSE(Purges.empty());
  EXPECT_EQ(Purges[0], 0x0Fu);
  // Opening again works: nothing of the old threads is left behind.
  ASSERT_TRUE(Core.OpenPort(3));
  Core.ClosePort();
}

TEST_F(AfComPortCoreTest, NoReportStartsAfterClosingBegins) {
  OnReport = [](TAfCoreEvent) { std::this_thread::sleep_for(20ms); };
  ASSERT_TRUE(Core.OpenPort(3));
  std::atomic<bool> Feeding{true};
  std::thread Feeder([&] {
    while (Feeding) {
      Line->Receive("a");
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return Count(ceLineEvent) >= 3; }));
  auto CloseStarted = Clock::now();
  Core.ClosePort();
  std::size_t AtClose;
  {
    std::lock_guard Guard(Lock);
    AtClose = Reports.size();
  }
  std::this_thread::sleep_for(100ms);
  Feeding = false;
  Feeder.join();
  std::lock_guard Guard(Lock);
  EXPECT_EQ(Reports.size(), AtClose);
  for (auto& R : Reports) EXPECT_LT(R.At, CloseStarted);
}

TEST_F(AfComPortCoreTest, RefusedSettingsAtOpenLeaveTheDeviceSettingsInTheRecord) {
  Line->SetRefuseSettings(true);
  DCB Wanted = Core.Dcb();
  Wanted.BaudRate = 57600;
  Core.ApplyDcb(Wanted);
  try {
    Core.OpenPort(3);
    FAIL();
  } catch (const EAfComPortCoreError& E) {
    EXPECT_STREQ(E.what(), "Error setting parameters from DCB");
  }
  EXPECT_EQ(Core.Dcb(), Line->Settings());
  EXPECT_EQ(Core.Dcb().BaudRate, 9600u);
  EXPECT_FALSE(Core.Active());
  EXPECT_FALSE(Line->IsOpen());
}

TEST_F(AfComPortCoreTest, UnsupportedSettingsOnAnOpenPortAreRefusedAndThePortStaysOpen) {
  ASSERT_TRUE(Core.OpenPort(3));
  DCB Before = Line->Settings();
  for (auto Change : std::vector<std::function<void(DCB&)>>{
           [](DCB& D) { D.ByteSize = 4; },
           [](DCB& D) {
             D.Flags = (D.Flags & ~fDtrControlMask) | fDtrControlHandshake | fOutxDsrFlow;
           },
           [](DCB& D) { D.StopBits = ONE5STOPBITS; },
           [](DCB& D) { D.Flags |= fOutxCtsFlow; },  // CTS without RTS handshake
       }) {
    DCB Wanted = Before;
    Change(Wanted);
    EXPECT_THROW(Core.ApplyDcb(Wanted), EAfComPortCoreError);
    EXPECT_EQ(Core.Dcb(), Before);
  }
  EXPECT_TRUE(Core.Active());
  DCB Mark = Before;
  Mark.Parity = MARKPARITY;
  Mark.ByteSize = 7;
  Mark.StopBits = TWOSTOPBITS;
  Core.ApplyDcb(Mark);
  EXPECT_EQ(Line->Settings(), Mark);
}

TEST_F(AfComPortCoreTest, OutputPurgeAbandonsAStalledWriteAndEmptiesTheQueue) {
  Core.SetOutQueueSize(32);
  ASSERT_TRUE(Core.OpenPort(3));
  Line->SetWriteStalled(true);
  ASSERT_TRUE(Core.QueueOutput("stalled", 7));
  ASSERT_TRUE(Line->WaitForStalledWrite(5000));
  EXPECT_TRUE(Core.PurgeOutput());
  EXPECT_EQ(Core.OutputSpace(), 32);
  Line->SetWriteStalled(false);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Line->Written(), "");
  EXPECT_EQ(Line->Purges().back(), PURGE_TXABORT | PURGE_TXCLEAR);
  ASSERT_TRUE(Core.QueueOutput("next", 4));
  ASSERT_TRUE(WaitUntil([&] { return Line->Written() == "next"; }));
}

TEST_F(AfComPortCoreTest, LineErrorsAccumulateUntilTaken) {
  ASSERT_TRUE(Core.OpenPort(3));
  Line->InjectErrors(CE_FRAME);
  ASSERT_TRUE(WaitUntil([&] { return Count(ceLineEvent) == 1; }));
  EXPECT_EQ(Of(ceLineEvent)[0].Data, EV_ERR);
  Core.LineStatus();
  Line->InjectErrors(CE_OVERRUN);
  Core.LineStatus();
  EXPECT_EQ(Core.TakeLineErrors(), CE_FRAME | CE_OVERRUN);
  EXPECT_EQ(Core.TakeLineErrors(), 0u);
}

TEST_F(AfComPortCoreTest, ModemLineChangesAreReportedAndReadable) {
  ASSERT_TRUE(Core.OpenPort(3));
  Line->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  ASSERT_TRUE(WaitUntil([&] { return Count(ceLineEvent) == 1; }));
  EXPECT_EQ(Of(ceLineEvent)[0].Data, EV_CTS | EV_RLSD);
  EXPECT_EQ(Core.ModemLines(), MS_CTS_ON | MS_RLSD_ON);
  EXPECT_TRUE(Core.EscapeLine(CLRDTR));
  EXPECT_EQ(Line->ControlLines(), TAfSimLine::LineRts);
}

TEST_F(AfComPortCoreTest, HandlerExceptionIsHandedBackAsExceptionReportAndAbortIsDropped) {
  OnReport = [](TAfCoreEvent Kind) {
    if (Kind == ceLineEvent) throw Exception("handler failed");
    if (Kind == ceNeedReadData) throw EAbort();
  };
  ASSERT_TRUE(Core.OpenPort(3));
  Line->Receive("q");
  ASSERT_TRUE(WaitUntil([&] { return Count(ceNeedReadData) >= 2; }));
  auto Errors = Of(ceException);
  ASSERT_EQ(Errors.size(), 1u);
  try {
    std::rethrow_exception(Errors[0].Error);
  } catch (const Exception& E) {
    EXPECT_STREQ(E.what(), "handler failed");
  }
  EXPECT_TRUE(Core.Active());
}

}  // namespace
