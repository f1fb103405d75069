#pragma once
// The search for modules below the window: the connection test of one channel (its speeds in
// order, the module check, the download) and the search that runs that test on many channels
// at once, each on a worker thread that also receives its channel's port events. The window and
// kvxctl drive it alike; the window's thread only shows its progress.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/uKVXxxCommands.h"
#include "support/uLogUtils.h"

// One line of a channel test's trace, with its point.
using TChannelTraceWriter = std::function<void(const std::string& Text, int Point)>;

// The speed that answered last on each port, so that its module is asked at that speed first.
class TSpeedMemory {
 public:
  struct TSpeed {
    std::string Text;  // the connection string, "baudrate=9600"
    int Point = 0;     // the trace point of its check
  };
  // Speeds in the order to try them on Port: the one that answered there last first, the others
  // as given.
  std::vector<TSpeed> Order(const std::string& Port, std::vector<TSpeed> Speeds) const;
  void Answered(const std::string& Port, const std::string& Speed);
  // One "port<TAB>speed" line per port, for keeping it between runs; Load ignores lines it
  // cannot read.
  std::string Save() const;
  void Load(const std::string& Text);

 private:
  mutable std::mutex FLock;
  std::map<std::string, std::string> FSpeeds;
};

// The search speeds of a channel in its kind's order, each with the point of its check; Extra
// (when not empty) last.
std::vector<TSpeedMemory::TSpeed> SearchSpeeds(const TKVXChannel& Channel,
                                               const std::string& Extra);

struct TChannelTestSetup {
  std::string ExtraSpeed;                    // tried last when not empty
  TSpeedMemory* Speeds = nullptr;            // none: the speeds in their table's order
  const std::atomic<bool>* Stop = nullptr;   // set: a test waiting for its channel gives up
  std::uint8_t Address = kUniversalAddress;  // the module asked for: one on a shared line
  std::vector<std::uint8_t> ScanAddresses;   // not empty: a search asks each of these
};

// The first-reply limit of the module check at each address of a scan, in ms: the modules
// answer within a few ms, and an address with no module behind it must cost little. A module
// that starts answering gets the full limits.
inline constexpr std::int32_t kScanCheckTimeout = 20;

struct TChannelTestResult {
  bool Answered = false;  // a module answered the check
  bool Found = false;     // and its download succeeded
  bool Collided = false;  // the check got garbled frames twice: modules answering at once
};

// Opens the channel and looks for a module at each search speed; on an answer downloads its
// record into Rec. Unless KeepOpen, the channel gets its state and settings back, also when an
// error of the channel ends the test. No two tests use one channel at once: a test waits for
// another on its channel to end.
TChannelTestResult TestChannelForModule(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen,
                                        const TChannelTestSetup& Setup,
                                        const TChannelTraceWriter& Trace);

struct TFoundModule {
  TKVXChannel Channel;
  TKVXrec Rec;
  std::uint8_t Address = kUniversalAddress;  // where it was found: its own on a scanned line
};

// Opens the channel and, at each search speed, asks every address of Setup.ScanAddresses
// that has not answered at an earlier speed; downloads each module that answers, at its own
// address. The channel gets its state and settings back.
std::vector<TFoundModule> ScanChannelAddresses(const TKVXChannel& Channel,
                                               const TChannelTestSetup& Setup,
                                               const TChannelTraceWriter& Trace);

// Tests Channels at once, at most kMaxChannelsInFlight at a time, starting them in the given
// order. Each channel's trace lines (with the search's own "TestCI" lines when SearchLines) are
// written together when its test ends, on behalf of Sender. OnEnd is called on a worker's
// thread when the last test has ended.
class TModuleSearch {
 public:
  static constexpr std::size_t kMaxChannelsInFlight = 128;

  TModuleSearch(std::vector<TKVXChannel> Channels, const TChannelTestSetup& Setup,
                const TLogSender* Sender, bool SearchLines, std::function<void()> OnEnd = {});
  // Cancels and waits for the workers.
  ~TModuleSearch();
  TModuleSearch(const TModuleSearch&) = delete;
  TModuleSearch& operator=(const TModuleSearch&) = delete;

  // Channels not yet started are left alone; those in test end at their next step and are
  // restored.
  void Cancel();
  // Waits up to Time for the search to end; true when it has.
  bool Wait(std::chrono::milliseconds Time);
  // Waits for the end, calling EachStep after every Step of it; a program asked to end
  // (StopExchanges) cancels the search.
  void WaitToEnd(std::chrono::milliseconds Step, const std::function<void()>& EachStep = {});
  std::size_t Finished() const;
  // The description of a channel under test; empty when none is.
  std::string Trying() const;
  bool Tests(const TKVXChannel& Channel) const;
  // The modules found so far, in the order of the channels.
  std::vector<TFoundModule> Found() const;
  // The channels whose module answered but could not be downloaded.
  std::vector<TKVXChannel> Unread() const;
  // Every channel that could not be opened for want of permission, each with its node and the
  // node's group ("COM5 (/dev/ttyUSB0, group dialout)"), in the channels' order; empty when none.
  std::string Refused() const;
  // The first channel another program holds whose holder can be named: its port and holder
  // ("COM5", "kvxctl serve, pid 1234"); empty texts when there is none.
  std::pair<std::string, std::string> Held() const;
  // What the first channel without a module reports of its fault (a name that cannot be
  // resolved, a bad entry, a broken server); none when none does.
  TChannelProblem Problem() const;
  // The ports where several modules seemed to answer at once, in the order of the channels.
  std::vector<std::string> Collisions() const;

 private:
  enum class TState { Waiting, Testing, Done };
  struct TEntry {
    TKVXChannel Channel;
    std::string Description;
    TState State = TState::Waiting;
    std::optional<TKVXrec> Found;
    std::vector<TFoundModule> Scanned;  // the modules of an address scan
    bool Refused = false;
    std::string Holder;  // the program holding the port, when it is held
    bool Unread = false;
    TChannelProblem Problem;
    bool Collided = false;
  };

  void Work();
  void Test(TEntry& Entry);

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TEntry> FEntries;
  std::size_t FNext = 0;
  std::size_t FFinished = 0;
  std::size_t FRunning = 0;
  std::atomic<bool> FStop{false};
  TChannelTestSetup FSetup;
  const TLogSender* FSender;
  bool FSearchLines;
  std::function<void()> FOnEnd;
  std::vector<std::thread> FWorkers;  // last: started when everything else is in place
};
