#include "app/uf_MainProgram.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_MainQtGlue.h"
#include "app/uf_Trend.h"
#include "lang/uLanguageSelector.h"
#include "support/uLogUtils.h"
#include "support/uProgramArgs.h"
#include "usb/uci_FTDIcore.h"
#include "usb/uci_FTDImanager.h"

namespace {

constexpr const char* kUsage =
    "usage: kvxsetup [DEBUG] [DST|STD] [itp] [baudrate=N]\n"
    "Finds KVX modules on the serial ports, USB serial adapters and serial device servers,\n"
    "sets them up and shows their measured values.\n"
    "  DEBUG       write the trace file (see man kvxsetup for where)\n"
    "  DST, STD    copy all channel traffic to the traffic monitor kvx-trace\n"
    "  itp         show the 4-20 mA row for every channel\n"
    "  baudrate=N  search at this speed as well\n"
    "  --help      this text\n"
    "  --version   the program's version\n";

// Answers --help and --version without a display; false when the window is to start.
bool AnsweredWithoutWindow(const std::vector<std::string>& Args) {
  for (std::size_t i = 1; i < Args.size(); ++i) {
    if (Args[i] == "--help" || Args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return true;
    }
    if (Args[i] == "--version") {
      std::printf("kvxsetup %s\n", KVX_VERSION_TEXT);
      return true;
    }
  }
  return false;
}

}  // namespace

int RunMainProgram(int argc, char** argv, const TMainProgramStart& OnStart) {
  // Our switches are read from the arguments as given, before the toolkit takes its own.
  std::vector<std::string> args(argv, argv + argc);
  if (AnsweredWithoutWindow(args)) return 0;
  SetProgramArgs(args);
  QApplication application(argc, argv);
  const TDebugLogSession log;
  LoadFTDILibrary();
  const TQtServices services(&application);

  TFTDIManager manager;
  TQtMainServices mainServices;
  TfMain form(manager, mainServices, std::vector<std::string>(args.begin() + 1, args.end()),
              [](TfMain& created) { InitializeLanguages(created.View()); });
  TfTrendWindow trend(form.Trend(), form.View());
  // The trend window must not keep the program alive, polling and recording, without the
  // main window.
  TfMainWindow window(
      form.View(), [&form] { form.FormShow(); },
      [&form, &trend] {
        // Asked first: the program ends even when letting the module go fails.
        QCoreApplication::quit();
        trend.close();
        form.FormClose();
      });
  mainServices.SetWidgetOf(
      [&window](TViewElement& element) { return window.Binding().Widget(element.Name()); });
  mainServices.SetShowTrend([&trend] { trend.Open(); });
  if (OnStart) OnStart(form, window, trend);
  window.show();
  return application.exec();
}
