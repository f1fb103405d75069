#pragma once
// The latest read of every module and the latest cycle of every line, as the Prometheus
// endpoint renders them. The pollers write it on their threads, any number of scrapes read it
// at once; neither waits longer than it takes to copy an entry.
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "service/uServedModule.h"

class TServedStore : public IServedModuleSink {
 public:
  // A value older than three Periods is not served.
  TServedStore(std::chrono::milliseconds Period, std::string Version);

  void Update(const TServedModule& Module) override;
  void Forget(const TServedModule& Module) override;
  // How long the line of Port took for its last round of reads (its period when they fit in).
  void SetLineCycle(const std::string& Port, std::chrono::duration<double> Cycle);

  // The metrics in Prometheus' text format, as of Now.
  std::string Metrics(std::chrono::system_clock::time_point Now) const;

 private:
  const std::chrono::milliseconds FPeriod;
  const std::string FVersion;
  mutable std::mutex FLock;
  std::map<std::string, TServedModule> FModules;  // by Key()
  std::map<std::string, double> FCycles;          // seconds, by port
};
