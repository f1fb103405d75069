#pragma once
// The far end of a simulated line: whatever a transport (in-process channel, pty, fake USB
// adapter) writes goes in, and the bytes the peer sends back come out when they are due.
// Pull-based, so a transport needs no thread of its own to be exact about timing.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ISimPeer {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~ISimPeer() = default;

  // Bytes written by the host at the given line speed in bit/s (0: the transport does not
  // know the speed; the peer then takes the bytes as sent at its own speed).
  virtual void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) = 0;
  // Removes and returns the bytes that are due by `now`.
  virtual std::string Read(Clock::time_point now) = 0;
  // Number of bytes due by `now`.
  virtual std::size_t Available(Clock::time_point now) const = 0;
  // When the next pending byte becomes due, if any is pending (for transports that sleep).
  virtual std::optional<Clock::time_point> NextDue() const = 0;
};
