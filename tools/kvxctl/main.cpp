// kvxctl: the setup tool's search, configuration, backup and measurement from the command
// line, on the window's own controller.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "comm/uci_ICommunicationInterface.h"
#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uProgramArgs.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "usb/uci_FTDIcore.h"

namespace {

std::atomic<int> gSignal{0};

void Interrupt(int Signal) {
  gSignal = Signal;
  CtlInterrupted() = true;
  if (!CtlModuleInHand().exchange(false)) StopExchanges();
}

// Asked to end: the command has let go of its channel; the shell's code for the signal.
int Interrupted() {
  std::cout.flush();
  std::cerr << "kvxctl: interrupted\n";
  return 128 + gSignal;
}

}  // namespace

int main(int argc, char** argv) {
  TCtlOptions options;
  try {
    options = ParseCtlOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TCtlError& error) {
    std::cerr << "kvxctl: " << error.what() << "\n";
    return error.Code();
  }
  if (options.Help) {
    std::cout << KvxctlUsage;
    return ceDone;
  }
  if (options.Version) {
    std::cout << "kvxctl " << KVX_VERSION_TEXT << "\n";
    return ceDone;
  }
  SetProgramArgs(options.ProgramArgs(argv[0]));
  const TDebugLogSession log;
  SetDebugLogOpenedHandler(
      [](const std::string& Path) { std::cerr << "kvxctl: trace file " << Path << "\n"; });
  LoadFTDILibrary();
  // Messages meant for the window's message box go to the error output.
  SetMessageHandler([](const std::string& Message) { std::cerr << "kvxctl: " << Message << "\n"; });
  struct sigaction action {};
  action.sa_handler = Interrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  try {
    const int code = RunCtlCommand(options, std::cout, std::cerr);
    return CtlInterrupted() ? Interrupted() : code;
  } catch (const TCtlError& error) {
    if (CtlInterrupted()) return Interrupted();
    std::cout.flush();
    std::cerr << "kvxctl: " << error.what() << "\n";
    return error.Code();
  } catch (const std::exception& error) {
    if (CtlInterrupted()) return Interrupted();
    std::cout.flush();
    std::cerr << "kvxctl: " << error.what() << "\n";
    return ceCommunication;
  }
}
