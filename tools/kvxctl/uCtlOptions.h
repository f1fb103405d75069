#pragma once
// kvxctl's command line: the command, its operands and the options, plus the window's own
// switches ("DEBUG", "DST", "STD", "baudrate=...") which pass through unchanged.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "service/uMqttSettings.h"

struct TCtlOptions {
  std::string Command;
  std::vector<std::string> Operands;
  bool Help = false;
  bool Version = false;
  bool Json = false;
  bool Csv = false;
  bool DryRun = false;
  bool WithComm = false;
  bool WithUserData = false;
  bool ToOtherModule = false;
  bool Update = false;
  bool Reassign = false;
  bool Itp = false;
  bool Debug = false;
  std::optional<int> Count;
  std::optional<unsigned> Baudrate;
  std::string Addresses;  // search: the address range each line is scanned over
  // serve: the endpoint, the plant's directory (commission's too), the period in seconds, TLS
  // and authentication
  std::string Listen;
  std::string Plant;
  std::string Period;
  std::string TlsCert;
  std::string TlsKey;
  std::string AuthFile;
  TMqttSettings Mqtt;  // serve: the broker it publishes to, when set
  // commission: the backup whose settings new modules get and the line speed they get
  std::string Template;
  std::optional<unsigned> Speed;
  std::vector<std::string> WindowSwitches;

  // The arguments the window's controller reads (extra speed, 4-20 mA row).
  std::vector<std::string> ControllerArgs() const;
  // The process arguments the support modules read their switches from.
  std::vector<std::string> ProgramArgs(const std::string& Program) const;
};

// serve's period; raises TCtlError(ceUsage) for one that is no number of seconds from 0.1 to 3600.
inline constexpr std::chrono::milliseconds kDefaultServePeriod{1000};
std::chrono::milliseconds ServePeriod(const TCtlOptions& Options);

// Raises TCtlError(ceUsage) naming what is wrong.
TCtlOptions ParseCtlOptions(const std::vector<std::string>& Args);

extern const char* const KvxctlUsage;
