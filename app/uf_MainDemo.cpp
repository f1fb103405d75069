#include "app/uf_MainDemo.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_Trend.h"
#include "support/uErrors.h"

namespace {

// Lets the event loop run (timers, measurement ticks, painting) for Ms milliseconds.
void Wait(int Ms) {
  QEventLoop Loop;
  QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
  Loop.exec();
}

// A left click in the middle of the widget, as the operator makes it.
void ClickWidget(QWidget* Widget) {
  if (!Widget) throw Exception("demo: a widget to click is missing");
  const QPointF Centre(Widget->width() / 2.0, Widget->height() / 2.0);
  const QPointF Global = Widget->mapToGlobal(Centre);
  QMouseEvent Press(QEvent::MouseButtonPress, Centre, Global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent Release(QEvent::MouseButtonRelease, Centre, Global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(Widget, &Press);
  QApplication::sendEvent(Widget, &Release);
}

class TDemoWalk {
 public:
  TDemoWalk(TfMain& Form, TfMainWindow& Window, TfTrendWindow& Trend, QString Directory)
      : FForm(Form), FWindow(Window), FTrend(Trend), FDirectory(std::move(Directory)) {}

  int Run() {
    QDir().mkpath(FDirectory);
    Wait(500);
    Shot("01-search");
    // The progress page is on screen only while the search blocks the event loop: take it
    // when the search names its first channel.
    bool Searching = false;
    const int Listener = FForm.View().AddListener([&](TViewElement& E, const std::string& P) {
      if (!Searching && E.Name() == "lConnectionDesc" && P == "Caption") {
        Searching = true;
        Shot("02-searching");
      }
    });
    Click("sSearch");
    FForm.View().RemoveListener(Listener);
    Wait(300);
    Shot("03-found");
    const std::size_t Found = FForm.FoundChannels().size();
    if (Found == 0) {
      std::fprintf(stderr, "demo: the search found no module\n");
      return 1;
    }
    for (std::size_t Row = 0; Row < Found; ++Row) {
      const QString Module = QString::fromStdString(FForm.Element("lbFoundedModules").Items()[Row])
                                 .section(QLatin1Char('|'), 0, 0)
                                 .toLower();
      FForm.Element("lbFoundedModules").Edit("ItemIndex", static_cast<int>(Row));
      Click("sConnect");
      Wait(3500);  // a few measurement ticks
      Shot(QStringLiteral("%1-measure-%2").arg(4 + Row * 4, 2, 10, QLatin1Char('0')).arg(Module));
      Click("sbCommunication");
      Wait(300);
      Shot(QStringLiteral("%1-communication-%2")
               .arg(5 + Row * 4, 2, 10, QLatin1Char('0'))
               .arg(Module));
      Click("sbChannel1");
      Wait(300);
      Shot(QStringLiteral("%1-channel1-%2").arg(6 + Row * 4, 2, 10, QLatin1Char('0')).arg(Module));
      Click("ShapeEx4");
      Wait(300);
      Shot(QStringLiteral("%1-channel4-%2").arg(7 + Row * 4, 2, 10, QLatin1Char('0')).arg(Module));
      if (Row + 1 < Found) {
        Click("ShapeEx2");
        Wait(300);
      }
    }
    English();
    Click("sbMeasuring");
    Wait(2500);
    Shot("20-measure-english");
    TrendWithRecording();
    Click("sbChannel2");
    Wait(300);
    Shot("21-channel2-english");
    Click("ShapeEx2");
    Wait(300);
    Shot("22-search-english");
    return FFailed ? 1 : 0;
  }

 private:
  void Click(const char* Name) { ClickWidget(FWindow.Binding().Widget(Name)); }

  // Picks the English entry of the language list, as the operator would.
  void English() {
    TViewElement& List = FForm.Element("cbbLanguage");
    for (std::size_t I = 0; I < List.ItemCount(); ++I)
      if (List.Items()[I] == "english" || List.Items()[I] == "English") {
        List.Edit("ItemIndex", static_cast<int>(I));
        return;
      }
    std::fprintf(stderr, "demo: no English language file next to the program\n");
  }

  // The trend window opened from the measurement page, about 20 seconds of values recorded.
  void TrendWithRecording() {
    Click("sTrend");
    const QString Csv = FDirectory + QStringLiteral("/23-trend-english.csv");
    FTrend.StartRecording(Csv);
    Wait(20000);
    FTrend.StopRecording();
    Shot("23-trend-english", FTrend);
    if (!FTrend.SaveImage(FDirectory + QStringLiteral("/24-trend-chart.png"))) FFailed = true;
    FTrend.close();
  }

  void Shot(const QString& Name, QWidget& Window) {
    const QString Path = FDirectory + QLatin1Char('/') + Name + QStringLiteral(".png");
    if (!Window.grab().save(Path)) {
      std::fprintf(stderr, "demo: cannot save %s\n", qPrintable(Path));
      FFailed = true;
    }
  }
  void Shot(const QString& Name) { Shot(Name, FWindow); }

  TfMain& FForm;
  TfMainWindow& FWindow;
  TfTrendWindow& FTrend;
  QString FDirectory;
  bool FFailed = false;
};

}  // namespace

std::optional<QString> DemoScreenshotDir(const std::string& Script) {
  const std::string Prefix = "screenshots:";
  if (!Script.starts_with(Prefix)) return std::nullopt;
  const std::string Directory = Script.substr(Prefix.size());
  if (Directory.empty()) throw Exception("KVX_DEMO_SCRIPT: screenshots: needs a directory");
  return QString::fromStdString(Directory);
}

void StartDemoWalk(TfMain& Form, TfMainWindow& Window, TfTrendWindow& Trend,
                   const QString& Directory) {
  QTimer::singleShot(0, &Window, [&Form, &Window, &Trend, Directory] {
    int Code = 1;
    try {
      Code = TDemoWalk(Form, Window, Trend, Directory).Run();
    } catch (const std::exception& E) {
      std::fprintf(stderr, "demo: %s\n", E.what());
    }
    QApplication::exit(Code);
  });
}
