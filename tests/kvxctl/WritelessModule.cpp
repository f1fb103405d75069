// A simulated RS module that acknowledges every write and keeps nothing, on a pseudo-terminal
// at 115200 bit/s; prints the KVX_COMPORTS entry (COM number from the argument) and serves
// until terminated.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>

#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"

int main(int argc, char** argv) {
  const std::string com = argc > 1 ? argv[1] : "100";
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  TKvxSimState state = KvxSimFactoryState(mtRS, 4242);
  state.SpeedCode = 10;  // 115200
  auto module = std::make_shared<TKvxSimModule>(state);
  TKvxSimFaults faults;
  faults.IgnoreWrites = true;
  module->SetFaults(faults);
  TSimPty pty(module);
  std::printf("export KVX_COMPORTS='%s=%s'\n", com.c_str(), pty.SlavePath().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  return 0;
}
