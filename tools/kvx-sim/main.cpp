// kvx-sim: simulated KVX modules on pseudo-terminals, for trying the tool without hardware.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/uKvxSimBench.h"
#include "sim/uKvxSimLine.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uErrors.h"
#include "tools/kvx-sim/uKvxSimOptions.h"

int main(int argc, char** argv) {
  TKvxSimOptions options;
  try {
    options = ParseKvxSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Exception& error) {
    std::fprintf(stderr, "kvx-sim: %s\n", error.what());
    return 2;
  }
  if (options.Help) {
    std::fputs(KvxSimUsage, stdout);
    return 0;
  }
  // Blocked before any thread starts, so only sigwait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::vector<std::unique_ptr<TSimPty>> ptys;
  std::shared_ptr<TKvxSimBench> bench;
  std::string exportList, usbExport;
  try {
    // Modules that join a line are gathered with the one before them, behind one pty.
    std::vector<std::vector<std::shared_ptr<TKvxSimModule>>> lines;
    for (const auto& served : options.Ports) {
      if (!served.UsbSerial.empty() && !*KVX_FAKE_FTD2XX)
        throw Exception("--usb needs the fake adapter library, which is built with the tests");
      auto module = std::make_shared<TKvxSimModule>(served.State);
      module->SetFaults(served.Faults);
      if (!served.JoinsLine) lines.emplace_back();
      lines.back().push_back(std::move(module));
    }
    std::size_t first = 0;
    for (auto& line : lines) {
      const TKvxSimPortSpec& served = options.Ports[first];
      std::shared_ptr<ISimPeer> peer = line.front();
      if (options.Bench)
        peer = bench = std::make_shared<TKvxSimBench>(line);
      else if (line.size() > 1)
        peer = std::make_shared<TKvxSimLine>(line);
      ptys.push_back(std::make_unique<TSimPty>(peer));
      // A USB module's line is relayed by the fake adapter library inside the tool.
      std::string entry = served.UsbSerial.empty()
                              ? std::to_string(served.ComNumber) + "=" + ptys.back()->SlavePath()
                              : served.UsbSerial + ":Simulated adapter=" + ptys.back()->SlavePath();
      for (std::size_t index = first; index < first + line.size(); ++index) {
        const TKvxSimState& state = options.Ports[index].State;
        std::printf("%s\t%s, serial %u, address %u, %u bit/s\n", entry.c_str(),
                    state.TypeText.c_str(), state.SerialNumber, state.Address,
                    kSpeedCodes[state.SpeedCode]);
      }
      first += line.size();
      std::string& list = served.UsbSerial.empty() ? exportList : usbExport;
      list += (list.empty() ? "" : ";") + entry;
    }
  } catch (const Exception& error) {
    std::fprintf(stderr, "kvx-sim: %s\n", error.what());
    return 1;
  }
  if (!exportList.empty()) std::printf("export KVX_COMPORTS='%s'\n", exportList.c_str());
  if (!usbExport.empty())
    std::printf("export KVX_FTD2XX_LIBRARY='%s' KVX_FAKE_FTDI='%s'\n", KVX_FAKE_FTD2XX,
                usbExport.c_str());
  std::fflush(stdout);
  int received = 0;
  while (sigwait(&signals, &received) == 0 && received == SIGUSR1)
    if (bench) bench->Next();
  ptys.clear();  // each pty's thread is joined here
  return 0;
}
