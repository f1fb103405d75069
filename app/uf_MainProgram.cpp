#include "app/uf_MainProgram.h"

#include <QApplication>
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

int RunMainProgram(int argc, char** argv, const TMainProgramStart& OnStart) {
  // Our switches are read from the arguments as given, before the toolkit takes its own.
  std::vector<std::string> args(argv, argv + argc);
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
