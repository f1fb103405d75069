// kvxsetup: finds KVX modules on the machine's serial lines and USB adapters, sets them up
// and shows their measured values.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_MainDemo.h"
#include "app/uf_MainQtGlue.h"
#include "app/uf_Trend.h"
#include "lang/uLanguageSelector.h"
#include "support/uLogUtils.h"
#include "support/uProgramArgs.h"
#include "usb/uci_FTDIcore.h"
#include "usb/uci_FTDImanager.h"

int main(int argc, char** argv) {
  // Our switches are read from the arguments as given, before the toolkit takes its own.
  std::vector<std::string> Args(argv, argv + argc);
  SetProgramArgs(Args);
  QApplication Application(argc, argv);
  const TDebugLogSession Log;
  LoadFTDILibrary();
  const TQtServices Services(&Application);

  std::optional<QString> DemoDir;
  if (const char* Script = std::getenv("KVX_DEMO_SCRIPT")) {
    try {
      DemoDir = DemoScreenshotDir(Script);
    } catch (const std::exception& E) {
      std::fprintf(stderr, "kvxsetup: %s\n", E.what());
      return 2;
    }
    if (!DemoDir) {
      std::fprintf(stderr, "kvxsetup: KVX_DEMO_SCRIPT '%s' is not screenshots:DIR\n", Script);
      return 2;
    }
  }

  TFTDIManager Manager;
  TQtMainServices MainServices;
  TfMain Form(Manager, MainServices, std::vector<std::string>(Args.begin() + 1, Args.end()),
              [](TfMain& F) { InitializeLanguages(F.View()); });
  TfMainWindow Window(Form.View(), [&Form] { Form.FormShow(); });
  TfTrendWindow Trend(Form.Trend(), Form.View());
  MainServices.SetWidgetOf(
      [&Window](TViewElement& E) { return Window.Binding().Widget(E.Name()); });
  MainServices.SetShowTrend([&Trend] { Trend.Open(); });
  if (DemoDir) StartDemoWalk(Form, Window, Trend, *DemoDir);
  Window.show();
  return Application.exec();
}
