// kvx-sim: simulated KVX modules on pseudo-terminals, for trying the tool without hardware.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uErrors.h"
#include "tools/kvx-sim/uKvxSimOptions.h"

int main(int argc, char** argv) {
  TKvxSimOptions Options;
  try {
    Options = ParseKvxSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Exception& E) {
    std::fprintf(stderr, "kvx-sim: %s\n", E.what());
    return 2;
  }
  if (Options.Help) {
    std::fputs(KvxSimUsage, stdout);
    return 0;
  }
  // Blocked before any thread starts, so only sigwait below receives them.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGINT);
  sigaddset(&Signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);

  std::vector<std::unique_ptr<TSimPty>> Ptys;
  std::string Export, UsbExport;
  try {
    for (const auto& Served : Options.Ports) {
      if (!Served.UsbSerial.empty() && !*KVX_FAKE_FTD2XX)
        throw Exception("--usb needs the fake adapter library, which is built with the tests");
      auto Module = std::make_shared<TKvxSimModule>(Served.State);
      Module->SetFaults(Served.Faults);
      Ptys.push_back(std::make_unique<TSimPty>(Module));
      // A USB module's line is relayed by the fake adapter library inside the tool.
      std::string Entry = Served.UsbSerial.empty()
                              ? std::to_string(Served.ComNumber) + "=" + Ptys.back()->SlavePath()
                              : Served.UsbSerial + ":Simulated adapter=" + Ptys.back()->SlavePath();
      std::printf("%s\t%s, serial %u, address %u, %u bit/s\n", Entry.c_str(),
                  Served.State.TypeText.c_str(), Served.State.SerialNumber, Served.State.Address,
                  kSpeedCodes[Served.State.SpeedCode]);
      std::string& List = Served.UsbSerial.empty() ? Export : UsbExport;
      List += (List.empty() ? "" : ";") + Entry;
    }
  } catch (const Exception& E) {
    std::fprintf(stderr, "kvx-sim: %s\n", E.what());
    return 1;
  }
  if (!Export.empty()) std::printf("export KVX_COMPORTS='%s'\n", Export.c_str());
  if (!UsbExport.empty())
    std::printf("export KVX_FTD2XX_LIBRARY='%s' KVX_FAKE_FTDI='%s'\n", KVX_FAKE_FTD2XX,
                UsbExport.c_str());
  std::fflush(stdout);
  int Received = 0;
  sigwait(&Signals, &Received);
  Ptys.clear();  // each pty's thread is joined here
  return 0;
}
