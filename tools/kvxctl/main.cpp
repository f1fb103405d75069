// kvxctl: the setup tool's search, configuration, backup and measurement from the command
// line, on the window's own controller.
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uProgramArgs.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "usb/uci_FTDIcore.h"

namespace {

void Interrupt(int) {
  CtlInterrupted() = true;
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
    return RunCtlCommand(options, std::cout, std::cerr);
  } catch (const TCtlError& error) {
    std::cout.flush();
    std::cerr << "kvxctl: " << error.what() << "\n";
    return error.Code();
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "kvxctl: " << error.what() << "\n";
    return ceCommunication;
  }
}
