#include "sim/uScriptedPeer.h"

#include <algorithm>

void TScriptedPeer::AddReply(std::vector<TScriptedChunk> Chunks) {
  std::lock_guard guard(FLock);
  FReplies.push_back(std::move(Chunks));
}

void TScriptedPeer::Send(const std::string& Bytes, std::chrono::milliseconds Delay) {
  std::lock_guard guard(FLock);
  Schedule(Clock::now() + Delay, Bytes);
}

std::string TScriptedPeer::Written() const {
  std::lock_guard guard(FLock);
  return FWritten;
}

std::size_t TScriptedPeer::RequestCount() const {
  std::lock_guard guard(FLock);
  return FRequests;
}

void TScriptedPeer::Schedule(Clock::time_point due, std::string bytes) {
  // After every chunk due at the same time or earlier, so equal times keep their order.
  const auto at =
      std::upper_bound(FPending.begin(), FPending.end(), due,
                       [](Clock::time_point t, const TPending& p) { return t < p.Due; });
  FPending.insert(at, TPending{due, std::move(bytes)});
}

void TScriptedPeer::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) {
  std::lock_guard guard(FLock);
  FWritten.append(bytes);
  ++FRequests;
  // The request is whole once its last character is on the line: 10 bits per character.
  auto received = now;
  if (baud > 0) received += std::chrono::microseconds(bytes.size() * 10'000'000ULL / baud);
  if (FReplies.empty()) return;
  auto due = received;
  for (auto& chunk : FReplies.front()) {
    due += chunk.Delay;
    Schedule(due, std::move(chunk.Bytes));
  }
  FReplies.erase(FReplies.begin());
}

std::string TScriptedPeer::Read(Clock::time_point now) {
  std::lock_guard guard(FLock);
  std::string result;
  auto it = FPending.begin();
  for (; it != FPending.end() && it->Due <= now; ++it) result += it->Bytes;
  FPending.erase(FPending.begin(), it);
  return result;
}

std::size_t TScriptedPeer::Available(Clock::time_point now) const {
  std::lock_guard guard(FLock);
  std::size_t count = 0;
  for (auto it = FPending.begin(); it != FPending.end() && it->Due <= now; ++it)
    count += it->Bytes.size();
  return count;
}

std::optional<ISimPeer::Clock::time_point> TScriptedPeer::NextDue() const {
  std::lock_guard guard(FLock);
  if (FPending.empty()) return std::nullopt;
  return FPending.front().Due;
}
