#pragma once
// The program's window against simulated modules, as the operator sees it: a VIROD on a
// pseudo-terminal (COM150) and a DAZAZE behind a simulated USB adapter, the window shown
// offscreen and driven by mouse and keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_MainQtGlue.h"
#include "app/uf_Trend.h"
#include "lang/uLanguageSelector.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "support/uCodePage.h"
#include "support/uProgramArgs.h"
#include "support/uStringUtils.h"
#include "tests/controls/QtTestApp.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDImanager.h"

inline QString Text(const std::string& Cp1250) {
  return QString::fromStdString(Cp1250ToUtf8(Trim(Cp1250)));
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    FakeFtdi_Reset();
    // Only the simulated lines take part, none of this machine's ports.
    std::string Map;
    for (int N = 1; N <= 96; ++N) Map += Format("%d=/dev/kvx-no-such-node-%d;", N, N);
    Map += "150=" + Pty.SlavePath();
    setenv("KVX_COMPORTS", Map.c_str(), 1);
    FakeFtdi_AddAdapter("KVXW0001", "Simulated adapter", Usb.get());
    SetProgramArgs({"kvxsetup"});
    Manager = std::make_unique<TFTDIManager>();
    Form = std::make_unique<TfMain>(*Manager, Services, std::vector<std::string>{},
                                    [](TfMain& F) { InitializeLanguages(F.View()); });
    Window = std::make_unique<TfMainWindow>(Form->View(), [this] { Form->FormShow(); });
    Trend = std::make_unique<TfTrendWindow>(Form->Trend(), Form->View());
    Services.SetWidgetOf([this](TViewElement& E) { return Window->Binding().Widget(E.Name()); });
    Services.SetShowTrend([this] { Trend->Open(); });
  }
  ~WindowTest() override {
    Trend.reset();
    Window.reset();
    Form.reset();
    Manager.reset();  // closes the channels before their far ends go
    FakeFtdi_Reset();
    unsetenv("KVX_COMPORTS");
  }

  template <class TWidget = QWidget>
  TWidget* W(const char* Name) {
    auto* Widget = qobject_cast<TWidget*>(Window->Binding().Widget(Name));
    EXPECT_NE(Widget, nullptr) << Name;
    return Widget;
  }
  void Click(const char* Name) { QTest::mouseClick(W(Name), Qt::LeftButton); }
  bool Shown(const char* Name) { return W(Name)->isVisible(); }
  void ChooseRow(const QString& Prefix) {
    auto* List = W<QListWidget>("lbFoundedModules");
    for (int Row = 0; Row < List->count(); ++Row)
      if (List->item(Row)->text().startsWith(Prefix)) {
        const QRect Item = List->visualItemRect(List->item(Row));
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Item.center());
        return;
      }
    ADD_FAILURE() << "no row " << Prefix.toStdString();
  }

  // Chooses the module's row and connects. A machine loaded by other work can make the
  // module's replies miss their time limits during the download; the operator then
  // disconnects and connects again, and so does this, at most three times.
  void ConnectTo(const QString& Prefix) {
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
      ChooseRow(Prefix);
      Click("sConnect");
      if (Form->ReadCopy().Setup[1].Channel == 1) return;
      Click("ShapeEx2");
    }
    ADD_FAILURE() << "no download from " << Prefix.toStdString();
  }

  std::shared_ptr<TKvxSimModule> Rs =
      std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 1207));
  std::shared_ptr<TKvxSimModule> Usb =
      std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtUSB, 42));
  TSimPty Pty{Rs};
  // The language the tests choose is remembered here, not in the machine's configuration.
  TTempDir Config;
  ScopedEnv ConfigHome{"XDG_CONFIG_HOME", Config.Dir()};
  TQtServices Glue{QCoreApplication::instance()};
  TQtMainServices Services;
  std::unique_ptr<TFTDIManager> Manager;
  std::unique_ptr<TfMain> Form;
  std::unique_ptr<TfMainWindow> Window;
  std::unique_ptr<TfTrendWindow> Trend;
  TMessageCapture Capture;
};
