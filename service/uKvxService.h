#pragma once
// The service that reads every module of the machine all the time: the search finds them (line
// by line, by address where asked), then one poller per line reads them and hands every read to
// the sinks. The modules of a plant are known beforehand: one that is not found is passed on as
// down and looked for again, as is every channel without a module. Driven from the main thread
// (device changes, searching again, the watchdog); the pollers run on their own.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/uModuleSearch.h"
#include "service/uLinePoller.h"
#include "usb/uci_FTDImanager.h"

struct TServeSetup {
  std::chrono::milliseconds Period{1000};
  std::vector<std::uint8_t> ScanAddresses;  // not empty: each line is scanned over these
  std::string ExtraSpeed;                   // "baudrate=N", tried last
  // How often the channels without a module (and the plant's modules not found) are searched.
  std::chrono::milliseconds SearchAgain{30000};
  std::vector<IServedModuleSink*> Sinks;
  // After each round of reads of a line, with how long the round took.
  std::function<void(const std::string& Port, std::chrono::duration<double> Cycle)> OnCycle;
  TServiceLog Log;
};

class TKvxService {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TKvxService(TServeSetup Setup);
  // Stops every poller; every port is given back.
  ~TKvxService();
  TKvxService(const TKvxService&) = delete;
  TKvxService& operator=(const TKvxService&) = delete;

  // Stops what is served, takes Plant (the modules known beforehand, with the port and address
  // they were last recorded at) and searches every channel; returns when the lines found are
  // served. A module that was served before and is neither found nor in Plant is forgotten.
  void Search(std::vector<TServedModule> Plant);
  // The main thread's share, called often: device changes, the searches of channels without a
  // module, the watchdog.
  void Tick();
  // How many modules are served and how many lines they are on.
  std::size_t Modules() const;
  std::size_t Lines() const { return FPollers.size(); }
  // Every poller went round its loop within Time.
  bool WorkersAlive(Clock::duration Time) const;

 private:
  void ChannelArrived(const TKVXChannel& Channel);
  void ChannelRemoved(const TKVXChannel& Channel);
  // Searches Channels and starts a poller for each one with modules.
  void Serve(std::vector<TKVXChannel> Channels);
  void StartPoller(const TKVXChannel& Channel, std::vector<TLineModule> Modules);
  // The channels of the machine no poller holds.
  std::vector<TKVXChannel> Unserved();
  bool Served(const std::string& Key) const;
  // Every plant module no poller serves, passed on as down.
  void PublishMissing();
  void FeedWatchdog();

  TServeSetup FSetup;
  TFTDIManager FManager;
  TSpeedMemory FSpeeds;
  std::map<std::string, TServedModule> FPlant;  // by key
  std::map<std::string, TServedModule> FKnown;  // every module passed on, by key
  std::vector<std::unique_ptr<TLinePoller>> FPollers;
  std::vector<TKVXChannel> FArrived;  // to be searched at the next tick
  Clock::time_point FNextSearch;
  Clock::time_point FNextWatchdog;
};
