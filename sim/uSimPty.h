#pragma once
// Serves a simulated peer on a pseudo-terminal, so the real COM port path (termios, the port
// engine, the COM port channel) can talk to it. A thread reads what the host writes on the
// slave side, hands it to the peer with the line speed the host set on the slave, and writes
// the peer's reply bytes to the line when they are due.
//
//   TSimPty Pty(std::make_shared<TKvxSimModule>());   // serves until destroyed
//   setenv("KVX_COMPORTS", ("7=" + Pty.SlavePath()).c_str(), 1);
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "sim/uSimPeer.h"

class TSimPty {
 public:
  using Clock = std::chrono::steady_clock;

  // Raises Exception when no pseudo-terminal can be had.
  explicit TSimPty(std::shared_ptr<ISimPeer> Peer);
  ~TSimPty();
  TSimPty(const TSimPty&) = delete;
  TSimPty& operator=(const TSimPty&) = delete;

  const std::string& SlavePath() const { return FSlavePath; }
  // The line speed the host last set on the slave side, in bit/s.
  std::uint32_t LineSpeed() const;
  // When the last reply byte went onto the line (the epoch when none has yet).
  Clock::time_point LastReplyByteAt() const {
    return Clock::time_point(Clock::duration(FLastReplyAt.load()));
  }

 private:
  void Run();

  std::shared_ptr<ISimPeer> FPeer;
  int FMaster = -1;
  int FSlaveKeeper = -1;  // keeps the slave side alive while no host has it open
  int FStop = -1;
  std::string FSlavePath;
  std::atomic<Clock::rep> FLastReplyAt{0};
  std::thread FThread;
};
