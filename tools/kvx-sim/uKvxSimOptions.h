#pragma once
// Command line of kvx-sim: which simulated modules to serve and how they behave.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/uKvxSimFaults.h"
#include "sim/uKvxSimState.h"

struct TKvxSimPortSpec {
  std::int32_t ComNumber = 0;  // 0 for a module behind a USB adapter
  std::string UsbSerial;       // serial number of the fake USB adapter it is behind, if any
  TKvxSimState State;
  TKvxSimFaults Faults;
  bool JoinsLine = false;  // on the same line (pty) as the module before it
};

struct TKvxSimOptions {
  bool Help = false;
  // Every module on one port, one at a time (TKvxSimBench): SIGUSR1 takes the module off or
  // plugs in the next, and at the end puts all of them on one line.
  bool Bench = false;
  std::vector<TKvxSimPortSpec> Ports;
};

// Raises Exception with a message naming the bad argument.
TKvxSimOptions ParseKvxSimOptions(const std::vector<std::string>& Args);
extern const char* const KvxSimUsage;
