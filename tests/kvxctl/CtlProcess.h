#pragma once
// Child processes for the kvxctl tests: simulated modules that serve until destroyed, and
// kvxctl runs with their environment.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct TRunResult {
  int Code = -1;
  std::string Out;
  std::string Err;
};

// Runs kvxctl with Args, the test's environment plus Env ("NAME=value"), and waits for it;
// WhileRunning, when given, is called with its process id once it has started.
TRunResult RunKvxctl(const std::vector<std::string>& Args, const std::vector<std::string>& Env,
                     const std::function<void(pid_t)>& WhileRunning = {});

// The text of the trace file a --debug run named on its error output, which is removed; empty
// when none was named.
std::string TakeTraceFile(const TRunResult& Run);

class TSimProcess {
 public:
  // Starts Program and reads its output up to the last "export" line it prints at start.
  TSimProcess(const std::string& Program, std::vector<std::string> Args, int ExportLines = 1);
  ~TSimProcess();
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  // The variables the "export" lines set, as "NAME=value".
  const std::vector<std::string>& Env() const { return FEnv; }
  void Signal(int Number) const;

 private:
  pid_t FPid = -1;
  std::vector<std::string> FEnv;
};

// kvx-sim arguments for three RS modules on one line on COM5, at addresses 7, 12 and 200, with
// serial numbers 4000 + address.
extern const std::vector<std::string> kLineOfThree;
