#include "serial/AfSafeSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "SerialTestUtils.h"
#include "support/uMessages.h"

namespace {

TEST(AfSafeSync, EveryOneOf256PortsGetsASlotAndAFreedSlotComesBackWithANewId) {
  TTestMainThread Main;
  std::vector<std::int32_t> Ids;
  int LastIndex = 0;
  for (int i = 0; i < 256; ++i) {
    Ids.push_back(AllocateSyncSlot([&](int Index) { LastIndex = Index; }));
    ASSERT_NE(Ids.back(), 0);
    if (i > 0) {
      EXPECT_GT(Ids[i], Ids[i - 1]);
    }
  }
  ASSERT_TRUE(EnableSyncSlot(Ids.back(), true));
  EXPECT_TRUE(CallSyncSlot(Ids.back(), 1000));
  EXPECT_EQ(LastIndex, 256);
  ASSERT_TRUE(ReleaseSyncSlot(Ids[9]));
  EXPECT_FALSE(ReleaseSyncSlot(Ids[9]));
  std::int32_t Reused = AllocateSyncSlot([&](int Index) { LastIndex = -Index; });
  EXPECT_GT(Reused, Ids.back());
  // The stale id no longer reaches the slot that took its place.
  EXPECT_FALSE(EnableSyncSlot(Ids[9], true));
  ASSERT_TRUE(EnableSyncSlot(Reused, true));
  EXPECT_TRUE(CallSyncSlot(Reused, 1000));  // on the main thread: runs at once
  EXPECT_EQ(LastIndex, -10);
  for (std::int32_t Id : Ids) ReleaseSyncSlot(Id);
  ReleaseSyncSlot(Reused);
}

TEST(AfSafeSync, IdZeroNeverMatches) {
  EXPECT_FALSE(EnableSyncSlot(0, true));
  EXPECT_FALSE(CallSyncSlot(0, 10));
  EXPECT_FALSE(ReleaseSyncSlot(0));
}

TEST(AfSafeSync, WorkerCallRunsOnTheMainThread) {
  TTestMainThread Main;
  std::thread::id Ran;
  std::int32_t Id = AllocateSyncSlot([&](int) { Ran = std::this_thread::get_id(); });
  ASSERT_TRUE(EnableSyncSlot(Id, true));
  auto Result = std::async(std::launch::async, [&] { return CallSyncSlot(Id, 5000); });
  ASSERT_TRUE(Main.PumpUntil(
      [&] { return Result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(Result.get());
  EXPECT_EQ(Ran, std::this_thread::get_id());
  ReleaseSyncSlot(Id);
}

TEST(AfSafeSync, DisabledSlotIsRefusedWithoutSending) {
  TTestMainThread Main;
  int Calls = 0;
  std::int32_t Id = AllocateSyncSlot([&](int) { ++Calls; });
  bool Result = std::async(std::launch::async, [&] { return CallSyncSlot(Id, 1000); }).get();
  EXPECT_FALSE(Result);
  EXPECT_FALSE(Main.Dispatcher->PumpFor(std::chrono::milliseconds(0)));
  EXPECT_EQ(Calls, 0);
  ReleaseSyncSlot(Id);
}

TEST(AfSafeSync, SlotDisabledDuringTheCallMakesItFail) {
  TTestMainThread Main;
  std::int32_t Id = 0;
  Id = AllocateSyncSlot([&](int) { EnableSyncSlot(Id, false); });
  EnableSyncSlot(Id, true);
  auto Result = std::async(std::launch::async, [&] { return CallSyncSlot(Id, 5000); });
  ASSERT_TRUE(Main.PumpUntil(
      [&] { return Result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_FALSE(Result.get());
  ReleaseSyncSlot(Id);
}

TEST(AfSafeSync, TimeOutAloneIsNotAFailureAndTheLateCallStillRuns) {
  TTestMainThread Main;
  int Calls = 0;
  std::int32_t Id = AllocateSyncSlot([&](int) { ++Calls; });
  EnableSyncSlot(Id, true);
  bool Result = std::async(std::launch::async, [&] { return CallSyncSlot(Id, 30); }).get();
  EXPECT_TRUE(Result);
  EXPECT_EQ(Calls, 0);
  Main.Dispatcher->ProcessPending();
  EXPECT_EQ(Calls, 1);
  ReleaseSyncSlot(Id);
}

TEST(AfSafeSync, WaitingWorkerIsReleasedWhenItsSlotIsDisabled) {
  TTestMainThread Main;
  std::int32_t Id = AllocateSyncSlot([](int) {});
  EnableSyncSlot(Id, true);
  auto Result = std::async(std::launch::async, [&] { return CallSyncSlot(Id, 60000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the worker start waiting
  EnableSyncSlot(Id, false);
  ASSERT_EQ(Result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(Result.get());
  ReleaseSyncSlot(Id);
}

TEST(AfSafeSync, CallbackExceptionIsShownOnTheMainThreadAndAbortIsNot) {
  TTestMainThread Main;
  std::vector<std::string> Shown;
  auto Previous = SetMessageHandler([&](const std::string& Text) { Shown.push_back(Text); });
  bool Abort = false;
  std::int32_t Id = AllocateSyncSlot([&](int) {
    if (Abort) throw EAbort();
    throw Exception("boom");
  });
  EnableSyncSlot(Id, true);
  EXPECT_TRUE(CallSyncSlot(Id, 100));
  Abort = true;
  EXPECT_TRUE(CallSyncSlot(Id, 100));
  SetMessageHandler(Previous);
  EXPECT_EQ(Shown, std::vector<std::string>{"boom"});
  ReleaseSyncSlot(Id);
}

}  // namespace
