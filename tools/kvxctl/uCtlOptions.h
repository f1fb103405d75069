#pragma once
// kvxctl's command line: the command, its operands and the options, plus the window's own
// switches ("DEBUG", "DST", "STD", "baudrate=...") which pass through unchanged.
#include <optional>
#include <string>
#include <vector>

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
  // commission: the backup whose settings new modules get, the plant's folder of backups and
  // the line speed they get
  std::string Template;
  std::string Plant;
  std::optional<unsigned> Speed;
  std::vector<std::string> WindowSwitches;

  // The arguments the window's controller reads (extra speed, 4-20 mA row).
  std::vector<std::string> ControllerArgs() const;
  // The process arguments the support modules read their switches from.
  std::vector<std::string> ProgramArgs(const std::string& Program) const;
};

// Raises TCtlError(ceUsage) naming what is wrong.
TCtlOptions ParseCtlOptions(const std::vector<std::string>& Args);

extern const char* const KvxctlUsage;
