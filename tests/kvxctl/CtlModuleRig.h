#pragma once
// kvxctl's commands run in this process against simulated modules on pseudo-terminals
// (COM100 onward), so a test sees every frame a module received.
#include <memory>
#include <string>
#include <vector>

#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "tests/kvxctl/CtlProcess.h"
#include "tests/support/TempDir.h"

class TCtlModuleRig {
 public:
  // One module per state, fast (115200 bit/s), COM100, COM101, ...
  explicit TCtlModuleRig(const std::vector<TKvxSimState>& States);
  ~TCtlModuleRig();
  TCtlModuleRig(const TCtlModuleRig&) = delete;
  TCtlModuleRig& operator=(const TCtlModuleRig&) = delete;

  // Runs the command as kvxctl would: its output, its error output and exit code.
  TRunResult Run(const std::vector<std::string>& Args);
  TKvxSimModule& Module(int Index) { return *FModules[Index]; }
  // The data of the write instructions Module(Index) received, forgetting them.
  std::string TakeWrites(int Index);
  std::string File(const std::string& Name) const { return FDir.File(Name); }

 private:
  TTempDir FDir;
  std::vector<std::shared_ptr<TKvxSimModule>> FModules;
  std::vector<std::unique_ptr<TSimPty>> FPtys;
};
