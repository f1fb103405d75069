#pragma once
// A far end that sends back every byte it gets, each due one character time (ten bits at
// the host's speed) after the previous one, as a line at that speed would deliver it.
#include <deque>
#include <mutex>
#include <utility>

#include "sim/uSimPeer.h"

class TEchoPeer : public ISimPeer {
 public:
  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override {
    std::lock_guard lock(FMutex);
    const auto charTime = std::chrono::nanoseconds(10'000'000'000LL / (baud ? baud : 115200));
    Clock::time_point due = FPending.empty() ? now : std::max(now, FPending.back().second);
    for (char c : bytes) {
      due += charTime;
      FPending.emplace_back(c, due);
    }
  }
  std::string Read(Clock::time_point now) override {
    std::lock_guard lock(FMutex);
    std::string out;
    while (!FPending.empty() && FPending.front().second <= now) {
      out += FPending.front().first;
      FPending.pop_front();
    }
    return out;
  }
  std::size_t Available(Clock::time_point now) const override {
    std::lock_guard lock(FMutex);
    std::size_t n = 0;
    for (const auto& p : FPending) n += p.second <= now;
    return n;
  }
  std::optional<Clock::time_point> NextDue() const override {
    std::lock_guard lock(FMutex);
    if (FPending.empty()) return std::nullopt;
    return FPending.front().second;
  }

 private:
  mutable std::mutex FMutex;
  std::deque<std::pair<char, Clock::time_point>> FPending;
};
