// kvxsetup as the operator ends it: the window program against a simulated VIROD on a
// pseudo-terminal connects, and after two readings the main window is closed. With
// KVX_CLOSE_RECORDING=FILE the trend window is open and records into FILE first. Prints the
// number of readings that came while recording and exits with the program's own code.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_MainProgram.h"
#include "app/uf_Trend.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uStringUtils.h"

int main(int argc, char** argv) {
  TSimPty pty(std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 1207)));
  std::string map;
  for (int port = 1; port <= 96; ++port) map += Format("%d=/dev/kvx-no-such-node-%d;", port, port);
  setenv("KVX_COMPORTS", (map + "150=" + pty.SlavePath()).c_str(), 1);
  const char* recording = std::getenv("KVX_CLOSE_RECORDING");
  int recorded = 0;
  int readings = 0;
  const int code =
      RunMainProgram(argc, argv, [&](TfMain& form, TfMainWindow& window, TfTrendWindow& trend) {
        form.Trend().AddListener([&](TTrend::TChange Change) {
          if (Change != TTrend::TChange::Added) return;
          if (trend.Recording()) ++recorded;
          if (++readings == 1 && recording) {
            form.Element("sTrend").Click();
            trend.StartRecording(QString::fromUtf8(recording));
          }
          if (readings == 3) QTimer::singleShot(0, &window, [&window] { window.close(); });
        });
        // On a loaded machine a download can miss its time limits: the operator tries again.
        QTimer::singleShot(0, &window, [&form] {
          for (int attempt = 0; attempt < 3; ++attempt) {
            form.Element("sSearch").Click();
            form.Element("lbFoundedModules").Edit("ItemIndex", 0);
            form.Element("sConnect").Click();
            if (form.ReadCopy().Setup[1].Channel == 1) return;
            form.Element("ShapeEx2").Click();
          }
          QCoreApplication::exit(2);
        });
      });
  std::printf("%d\n", recorded);
  return code;
}
