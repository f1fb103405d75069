#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/uInProcessChannel.h"
#include "sim/uScriptedPeer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct QueryTest : testing::Test {
  void SetUp() override { channel->Open(); }
  std::string Ask(std::int32_t timeout = 100, const TIsCompleteFunc& isComplete = {}) {
    std::string reply = "stale";
    channel->Query("REQ", timeout, reply, isComplete);
    return reply;
  }
  std::shared_ptr<TScriptedPeer> peer = std::make_shared<TScriptedPeer>();
  TIntfPtr<TInProcessChannel> channel = Create<TInProcessChannel>("SIM1", peer);
};

TEST_F(QueryTest, ChunksThirtyMillisecondsApartAreJoined) {
  peer->AddReply({{10ms, "*a01"}, {30ms, "23\r"}});
  EXPECT_EQ(Ask(), "*a0123\r");
  EXPECT_EQ(peer->Written(), "REQ");
}

TEST_F(QueryTest, ChunksSixtyMillisecondsApartAreNot) {
  // The quiet time runs from the moment the first chunk was read; a machine too busy to
  // read it within a few milliseconds of its arrival cannot show the gap, so such runs are
  // repeated (a wrong quiet time fails every run).
  int measured = 0;
  for (int attempt = 0; attempt < 5 && measured < 2; ++attempt) {
    auto linePeer = std::make_shared<TScriptedPeer>();
    auto line = Create<TInProcessChannel>("SIM2", linePeer);
    line->Open();
    linePeer->AddReply({{10ms, "first"}, {60ms, "second"}});
    Clock::time_point firstSeen{};
    const auto start = Clock::now();
    std::string reply;
    line->Query("REQ", 100, reply, [&](const std::string& soFar) -> std::uint16_t {
      if (!soFar.empty() && firstSeen == Clock::time_point{}) firstSeen = Clock::now();
      return 1;
    });
    if (firstSeen - start > 10ms + 6ms) continue;
    ++measured;
    EXPECT_EQ(reply, "first");
  }
  EXPECT_GT(measured, 0) << "the machine never read the first chunk on time";
}

TEST_F(QueryTest, NoCompletenessTestWaitsTheQuietTimeAfterTheLastChunk) {
  peer->AddReply({{0ms, "AB"}});
  const auto start = Clock::now();
  EXPECT_EQ(Ask(1000), "AB");
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 50ms);   // quiet time after the chunk
  EXPECT_LT(elapsed, 900ms);  // not the whole time-out
}

TEST_F(QueryTest, CompleteReplyEndsTheWaitAtOnce) {
  // A second chunk 40 ms later would be joined (see above) if the exchange waited.
  peer->AddReply({{5ms, "DONE"}, {40ms, "MORE"}});
  int callsAfterComplete = 0;
  const std::string reply = Ask(500, [&](const std::string& soFar) -> std::uint16_t {
    if (soFar == "DONE") ++callsAfterComplete;
    return soFar == "DONE" ? 0 : 3;
  });
  EXPECT_EQ(reply, "DONE");
  EXPECT_EQ(callsAfterComplete, 1);
}

TEST_F(QueryTest, CompletenessTestRunsEveryStepAlsoWithoutNewBytes) {
  std::vector<std::string> seen;
  const auto start = Clock::now();
  EXPECT_EQ(Ask(60,
                [&](const std::string& soFar) -> std::uint16_t {
                  seen.push_back(soFar);
                  return 1;
                }),
            "");
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_GE(waited, 60ms);  // no answer: the whole time-out
  // One call per 1 ms step at most, and several steps in 60 ms.
  EXPECT_GE(seen.size(), 5u);
  EXPECT_LE(seen.size(), static_cast<std::size_t>(waited.count()));
  for (const auto& s : seen) EXPECT_EQ(s, "");
}

TEST_F(QueryTest, BytesWaitingBeforeTheQueryArePurged) {
  peer->Send("noise");
  std::this_thread::sleep_for(5ms);
  peer->AddReply({{5ms, "answer"}});
  EXPECT_EQ(Ask(), "answer");
}

TEST_F(QueryTest, ClosedChannelGivesAnEmptyReplyAtOnceAndSendsNothing) {
  channel->Close(false);
  peer->AddReply({{0ms, "never"}});
  int calls = 0;
  EXPECT_EQ(Ask(5000,
                [&](const std::string&) -> std::uint16_t {
                  ++calls;
                  return 1;
                }),
            "");
  EXPECT_EQ(peer->RequestCount(), 0u);
  EXPECT_EQ(calls, 0);
}

TEST_F(QueryTest, CharacterTimeLengthensTheQuietTime) {
  // 1000 bit/s: 10 ms per character, quiet time 10 * 10 + 50 = 150 ms.
  channel->SetBaudRate(1000);
  peer->AddReply({{0ms, "A"}, {100ms, "B"}});
  EXPECT_EQ(Ask(10), "AB");
  EXPECT_NEAR(channel->GetCharTime(), 10.0, 1e-9);
}

TEST_F(QueryTest, TalkerThatNeverStopsIsCutAtTheWholeReplysLimit) {
  // A chunk every 10 ms for two seconds: each one restarts the quiet time.
  std::vector<TScriptedChunk> stream;
  for (int n = 0; n < 200; ++n) stream.push_back({10ms, "talk"});
  peer->AddReply(stream);
  const auto start = Clock::now();
  const std::string reply = Ask(100);
  EXPECT_LT(Clock::now() - start, 1500ms);
  EXPECT_FALSE(reply.empty());
  EXPECT_LT(reply.size(), 200u * 4);
}

TEST_F(QueryTest, ReplyStopsAtItsLimit) {
  peer->AddReply({{5ms, "ABCDEFGH"}, {20ms, "IJ"}});
  std::string reply;
  channel->Query("REQ", 100, reply, {}, 4);
  EXPECT_EQ(reply, "ABCD");
}

TEST_F(QueryTest, ReplyThatCannotCompleteEndsTheWaitAtOnce) {
  // The second chunk would be joined if the exchange waited for the quiet time.
  peer->AddReply({{5ms, "junk"}, {30ms, "more"}});
  const std::string reply = Ask(500, [](const std::string& soFar) -> std::uint16_t {
    return soFar.empty() ? 1 : kReplyCannotComplete;
  });
  EXPECT_EQ(reply, "junk");
}

TEST_F(QueryTest, ChannelLockIsHeldForTheWholeExchange) {
  peer->AddReply({{5ms, "R"}});
  int steps = 0, refusedToOthers = 0;
  std::string reply;
  channel->Query("REQ", 100, reply, [&](const std::string&) -> std::uint16_t {
    ++steps;
    bool taken = true;
    std::thread([&] {
      taken = channel->TryLock();
      if (taken) channel->Unlock();
    }).join();
    if (!taken) ++refusedToOthers;
    EXPECT_TRUE(channel->TryLock());  // the exchanging thread itself may take it again
    channel->Unlock();
    return 1;
  });
  EXPECT_EQ(reply, "R");
  EXPECT_GT(steps, 0);
  EXPECT_EQ(refusedToOthers, steps);
}

}  // namespace
