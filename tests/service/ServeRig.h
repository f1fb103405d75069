#pragma once
// kvxctl serve's service in this process over simulated modules, with its endpoint on a free
// port of 127.0.0.1: three modules on a shared line (COM5, addresses 7, 12 and 200, serial
// numbers 4000 + address) and one alone (COM6, address 1, serial 0077, channel 2 "Tlak" held at
// 42.5 bar, channel 3 overflowed, channel 4 without a value). And the real Prometheus server.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "service/uHttpEndpoint.h"
#include "service/uKvxService.h"
#include "service/uServedStore.h"
#include "sim/uKvxSimLine.h"
#include "sim/uSimPty.h"
#include "tests/serial/SerialTestUtils.h"
#include "tests/support/TempDir.h"

inline constexpr std::chrono::milliseconds kRigPeriod{200};

class TServeRig {
 public:
  // LateModule: the line's module at address 200 answers only after the first search.
  explicit TServeRig(std::vector<TServedModule> Plant = {}, bool LateModule = false);
  ~TServeRig();

  // Scrapes /metrics, doing the service's main-thread share between scrapes, until a line of
  // the text is Line or Limit passes; true when one is. Each scrape's time is kept.
  bool WaitForLine(const std::string& Line, std::chrono::seconds Limit = std::chrono::seconds(30));
  std::string Scrape();
  // The single module's device goes away, as a pulled adapter does.
  void PullSingleLine() { FSinglePty.reset(); }
  std::uint16_t Port() const { return FEndpoint->Port(); }

  std::shared_ptr<TKvxSimLine> Line;
  std::shared_ptr<TKvxSimModule> Single;
  std::chrono::steady_clock::duration LongestScrape{};
  std::string LastMetrics;

 private:
  TTestMainThread FMain;
  std::unique_ptr<TSimPty> FLinePty;
  std::unique_ptr<TSimPty> FSinglePty;
  TServedStore FStore;
  std::unique_ptr<THttpEndpoint> FEndpoint;
  std::unique_ptr<TKvxService> FService;
};

// The body of a GET of Target from 127.0.0.1:Port; empty when nothing answers.
std::string HttpGet(std::uint16_t Port, const std::string& Target);

// Prometheus on a free port of 127.0.0.1, scraping 127.0.0.1:Target every second, its storage
// in a temporary folder.
class TPrometheus {
 public:
  // The installed program, or an empty text when there is none.
  static std::string Program();
  explicit TPrometheus(std::uint16_t Target);
  ~TPrometheus();
  TPrometheus(const TPrometheus&) = delete;
  TPrometheus& operator=(const TPrometheus&) = delete;
  // The query API's answer to Query (URL-encoded).
  std::string Query(const std::string& Query) const;

 private:
  TTempDir FDir;
  std::uint16_t FPort = 0;
  pid_t FPid = -1;
};
