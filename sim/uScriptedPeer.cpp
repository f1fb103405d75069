#include "sim/uScriptedPeer.h"

#include <algorithm>

void TScriptedPeer::AddReply(std::vector<TScriptedChunk> Chunks) {
  std::lock_guard guard(mutex_);
  replies_.push_back(std::move(Chunks));
}

void TScriptedPeer::Send(const std::string& Bytes, std::chrono::milliseconds Delay) {
  std::lock_guard guard(mutex_);
  Schedule(Clock::now() + Delay, Bytes);
}

std::string TScriptedPeer::Written() const {
  std::lock_guard guard(mutex_);
  return written_;
}

std::size_t TScriptedPeer::RequestCount() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

void TScriptedPeer::Schedule(Clock::time_point due, std::string bytes) {
  // After every chunk due at the same time or earlier, so equal times keep their order.
  const auto at =
      std::upper_bound(pending_.begin(), pending_.end(), due,
                       [](Clock::time_point t, const TPending& p) { return t < p.Due; });
  pending_.insert(at, TPending{due, std::move(bytes)});
}

void TScriptedPeer::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) {
  std::lock_guard guard(mutex_);
  written_.append(bytes);
  ++requests_;
  // The request is whole once its last character is on the line: 10 bits per character.
  auto received = now;
  if (baud > 0) received += std::chrono::microseconds(bytes.size() * 10'000'000ULL / baud);
  if (replies_.empty()) return;
  auto due = received;
  for (auto& chunk : replies_.front()) {
    due += chunk.Delay;
    Schedule(due, std::move(chunk.Bytes));
  }
  replies_.erase(replies_.begin());
}

std::string TScriptedPeer::Read(Clock::time_point now) {
  std::lock_guard guard(mutex_);
  std::string result;
  auto it = pending_.begin();
  for (; it != pending_.end() && it->Due <= now; ++it) result += it->Bytes;
  pending_.erase(pending_.begin(), it);
  return result;
}

std::size_t TScriptedPeer::Available(Clock::time_point now) const {
  std::lock_guard guard(mutex_);
  std::size_t count = 0;
  for (auto it = pending_.begin(); it != pending_.end() && it->Due <= now; ++it)
    count += it->Bytes.size();
  return count;
}

std::optional<ISimPeer::Clock::time_point> TScriptedPeer::NextDue() const {
  std::lock_guard guard(mutex_);
  if (pending_.empty()) return std::nullopt;
  return pending_.front().Due;
}
