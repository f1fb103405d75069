#pragma once
// One line of the plant and its worker: the line's modules are read in turn, by address, once a
// period, never two requests on the line at once, and each read goes to every sink. A module
// that stops answering is marked down and asked at a slower pace; a line whose device went away
// is opened again with a growing pause. The worker only reads.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/uKVXxxCommands.h"
#include "service/uServedModule.h"

struct TLineModule {
  TServedModule Served;                      // identity, names and units as the search read them
  std::uint8_t Address = kUniversalAddress;  // the address it is asked at
};

// What a download read of the module at Address on Channel, as the sinks see it before its
// first read.
TLineModule LineModuleOf(const TKVXChannel& Channel, const TKVXrec& Rec, std::uint8_t Address);

// One line for the operator's log (the journal): a change of state, never a single failed read.
using TServiceLog = std::function<void(const std::string& Line)>;

struct TLineSetup {
  std::chrono::milliseconds Period{1000};
  std::vector<std::string> Speeds;  // connection strings to try on opening, the likeliest first
  // A scanned line: the addresses where a module plugged in later is looked for, one per round.
  std::vector<std::uint8_t> ScanAddresses;
  std::vector<IServedModuleSink*> Sinks;
  // After each round of reads, with how long the round took (its period when the reads fit).
  std::function<void(const std::string& Port, std::chrono::duration<double> Cycle)> OnCycle;
  TServiceLog Log;
};

// A module that failed this many reads in a row is down.
inline constexpr int kFailuresForDown = 3;
// A module that is down is asked once in this many periods, and waited for this long (ms): a
// module that is back answers within a few ms, and one that is not must cost its line little.
inline constexpr int kDownRetryPeriods = 5;
inline constexpr std::int32_t kDownRetryTimeout = 50;
// A line without time to spare in its period looks for a new module once in this many rounds.
inline constexpr int kLookEveryRounds = 10;
// The longest pause between two attempts to open a line that went away.
inline constexpr std::chrono::seconds kLongestReopenPause{30};

class TLinePoller {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts the worker; Channel may be closed (it is opened by the worker).
  TLinePoller(TKVXChannel Channel, std::vector<TLineModule> Modules, TLineSetup Setup);
  // Stops the worker at its next step and closes the line.
  ~TLinePoller();
  TLinePoller(const TLinePoller&) = delete;
  TLinePoller& operator=(const TLinePoller&) = delete;

  const std::string& Port() const { return FPort; }  // UTF-8
  // The line's modules (as first read), also those found on it since.
  std::vector<TServedModule> Modules() const;
  // The line's device came back as another channel: the worker opens that one from now on.
  void Reattach(TKVXChannel Channel);
  // When the worker last went round its loop; a hung worker stops feeding the watchdog.
  Clock::time_point Heartbeat() const { return Clock::time_point(Clock::duration(FBeat.load())); }

 private:
  struct TPolled {
    TLineModule Module;
    int FailuresInRow = 0;
    Clock::time_point NextTry;
  };
  enum class TLineState { Starting, Open, Gone };

  void Run();
  // Opens the line when it is closed and its pause is over; false while it stays closed.
  bool LineOpen();
  void LineGone();
  void FindSpeed();
  // Asks the next address of the scan that has no module; a module that answers is downloaded
  // and read from the next round on.
  void LookForNewModule();
  void Read(TPolled& Polled);
  void Publish(const TServedModule& Module);
  void ReportCycle(Clock::duration Reading, Clock::duration Cycle);
  // Waits until Time or until asked to stop.
  void WaitUntil(Clock::time_point Time);
  void Beat() { FBeat = Clock::now().time_since_epoch().count(); }
  std::string Place(const TPolled& Polled) const;

  const TLineSetup FSetup;
  const std::string FPort;
  std::vector<TPolled> FModules;          // the worker's alone once it runs
  std::vector<std::uint8_t> FUnanswered;  // the scan's addresses without a module
  std::size_t FNextLook = 0;
  int FRound = 0;
  TKVXChannel FChannel;  // the worker's
  TLineState FState = TLineState::Starting;
  Clock::time_point FNextOpen;
  Clock::duration FReopenPause;
  bool FStretched = false;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  TKVXChannel FReattached;                 // guarded by FLock
  std::vector<TServedModule> FIdentities;  // guarded by FLock
  std::atomic<bool> FStop{false};
  std::atomic<Clock::rep> FBeat{0};
  std::thread FWorker;  // last: started when everything else is in place
};
