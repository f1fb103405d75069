#pragma once
// The far end of a fake adapter in another process: a line (normally the slave side of a
// pseudo-terminal that a simulator serves) that the adapter's bytes are relayed to and from.
// The speed set on the adapter is set on the line, so the simulator hears it.
#include <string>

#include "sim/uSimPeer.h"

class TFakePtyPeer : public ISimPeer {
 public:
  // Opens Path; Ok() tells whether that worked.
  explicit TFakePtyPeer(const std::string& Path);
  ~TFakePtyPeer() override;
  TFakePtyPeer(const TFakePtyPeer&) = delete;
  TFakePtyPeer& operator=(const TFakePtyPeer&) = delete;
  bool Ok() const { return FFd >= 0; }
  // The kernel has hung the line up (its ioctls fail with EIO), as a pulled cable does.
  bool HungUp() const;

  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override;
  std::string Read(Clock::time_point now) override;
  std::size_t Available(Clock::time_point now) const override;
  // The line is polled: bytes may come at any time.
  std::optional<Clock::time_point> NextDue() const override;

 private:
  void SetSpeed(std::uint32_t Baud);

  int FFd = -1;
  std::uint32_t FBaud = 0;
};
