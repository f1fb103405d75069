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
  std::vector<std::string> args(argv, argv + argc);
  SetProgramArgs(args);
  QApplication application(argc, argv);
  const TDebugLogSession traceLog;
  LoadFTDILibrary();
  const TQtServices services(&application);

  std::optional<QString> demoDir;
  if (const char* script = std::getenv("KVX_DEMO_SCRIPT")) {
    try {
      demoDir = DemoScreenshotDir(script);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "kvxsetup: %s\n", error.what());
      return 2;
    }
    if (!demoDir) {
      std::fprintf(stderr, "kvxsetup: KVX_DEMO_SCRIPT '%s' is not screenshots:DIR\n", script);
      return 2;
    }
  }

  TFTDIManager manager;
  TQtMainServices mainServices;
  TfMain form(manager, mainServices, std::vector<std::string>(args.begin() + 1, args.end()),
              [](TfMain& Form) { InitializeLanguages(Form.View()); });
  TfMainWindow window(form.View(), [&form] { form.FormShow(); });
  TfTrendWindow trend(form.Trend(), form.View());
  mainServices.SetWidgetOf(
      [&window](TViewElement& Element) { return window.Binding().Widget(Element.Name()); });
  mainServices.SetShowTrend([&trend] { trend.Open(); });
  if (demoDir) StartDemoWalk(form, window, trend, *demoDir);
  window.show();
  return application.exec();
}
