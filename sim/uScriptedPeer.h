#pragma once
// A line peer that follows a script: each request the host writes is answered with the next
// scripted reply, a series of chunks due at given delays. Bytes may also be sent unasked.
// Thread-safe, so a test may script it while a channel uses it.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "sim/uSimPeer.h"

struct TScriptedChunk {
  std::chrono::milliseconds Delay;  // after the previous chunk (the first: after the request)
  std::string Bytes;
};

class TScriptedPeer : public ISimPeer {
 public:
  // Queues the answer to the next request that has no answer yet.
  void AddReply(std::vector<TScriptedChunk> Chunks);
  // Bytes sent unasked, due Delay from now.
  void Send(const std::string& Bytes, std::chrono::milliseconds Delay = {});
  // Everything the host has written, and the number of writes.
  std::string Written() const;
  std::size_t RequestCount() const;

  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override;
  std::string Read(Clock::time_point now) override;
  std::size_t Available(Clock::time_point now) const override;
  std::optional<Clock::time_point> NextDue() const override;

 private:
  struct TPending {
    Clock::time_point Due;
    std::string Bytes;
  };
  void Schedule(Clock::time_point due, std::string bytes);

  mutable std::mutex FLock;
  std::vector<std::vector<TScriptedChunk>> FReplies;  // in request order
  std::vector<TPending> FPending;                     // ordered by due time
  std::string FWritten;
  std::size_t FRequests = 0;
};
