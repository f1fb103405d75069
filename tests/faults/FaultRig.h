#pragma once
// A simulated module behind a real transport, for fault injection: a pseudo-terminal served
// to the COM port channel, or an adapter of the fake USB driver library. The channel is open
// at the module's speed. Pull() takes the line away as a user pulling the cable would: the
// pseudo-terminal is hung up, the adapter's calls fail with FT_IO_ERROR.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "protocol/uKVXxxCommands.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "tests/serial/SerialTestUtils.h"

enum class TLine { Pty, Usb };
std::string LineName(TLine Line);

class TFaultRig {
 public:
  TFaultRig(TLine Line, const TKvxSimState& State);
  ~TFaultRig();
  TFaultRig(const TFaultRig&) = delete;
  TFaultRig& operator=(const TFaultRig&) = delete;

  void Pull();
  // Puts the line back (a new pseudo-terminal, the adapter plugged in) and reopens the channel.
  void Replug();
  // Pulls the line on another thread once the module has heard Requests frames (counted
  // from now); joined by the destructor at the latest.
  void PullAfter(std::size_t Requests);
  void JoinPuller();

  TTestMainThread Main;  // the test thread; port events wait for it only up to their limit
  std::shared_ptr<TKvxSimModule> Module;
  TKVXChannel Channel;

 private:
  void ServePty();

  TLine FLine;
  std::unique_ptr<TSimPty> FPty;
  std::thread FPuller;
};

// Threads of this process now.
std::size_t ThreadCount();
// Waits up to 5 s for the thread count to fall to Expected; the count it last saw.
std::size_t ThreadCountSettlesAt(std::size_t Expected);

// The longest one download step may take when its answers go missing: ten unanswered
// transactions, then the settle pause.
inline constexpr std::chrono::milliseconds kFailedStepLimit{
    10 * (kTransactPause + kDownloadTimeout) + kSettlePause};
