#include "app/uf_MainDemo.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/uMain.h"
#include "app/uf_Main.h"
#include "app/uf_Trend.h"
#include "support/uErrors.h"

namespace {

// Lets the event loop run (timers, measurement ticks, painting) for Ms milliseconds.
void Wait(int Ms) {
  QEventLoop loop;
  QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// A left click in the middle of the widget, as the operator makes it.
void ClickWidget(QWidget* Widget) {
  if (!Widget) throw Exception("demo: a widget to click is missing");
  const QPointF centre(Widget->width() / 2.0, Widget->height() / 2.0);
  const QPointF global = Widget->mapToGlobal(centre);
  QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(Widget, &press);
  QApplication::sendEvent(Widget, &release);
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
    bool searching = false;
    const int listener =
        FForm.View().AddListener([&](TViewElement& Element, const std::string& Property) {
          if (!searching && Element.Name() == "lConnectionDesc" && Property == "Caption") {
            searching = true;
            Shot("02-searching");
          }
        });
    Click("sSearch");
    FForm.View().RemoveListener(listener);
    Wait(300);
    Shot("03-found");
    const std::size_t found = FForm.FoundChannels().size();
    if (found == 0) {
      std::fprintf(stderr, "demo: the search found no module\n");
      return 1;
    }
    for (std::size_t row = 0; row < found; ++row) {
      const QString module = QString::fromStdString(FForm.Element("lbFoundedModules").Items()[row])
                                 .section(QLatin1Char('|'), 0, 0)
                                 .toLower();
      FForm.Element("lbFoundedModules").Edit("ItemIndex", static_cast<int>(row));
      Click("sConnect");
      Wait(3500);  // a few measurement ticks
      Shot(QStringLiteral("%1-measure-%2").arg(4 + row * 4, 2, 10, QLatin1Char('0')).arg(module));
      Click("sbCommunication");
      Wait(300);
      Shot(QStringLiteral("%1-communication-%2")
               .arg(5 + row * 4, 2, 10, QLatin1Char('0'))
               .arg(module));
      Click("sbChannel1");
      Wait(300);
      Shot(QStringLiteral("%1-channel1-%2").arg(6 + row * 4, 2, 10, QLatin1Char('0')).arg(module));
      Click("ShapeEx4");
      Wait(300);
      Shot(QStringLiteral("%1-channel4-%2").arg(7 + row * 4, 2, 10, QLatin1Char('0')).arg(module));
      if (row + 1 < found) {
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
    // The line of three modules, scanned address by address.
    FForm.Element("cbSearchAddresses").Edit("Checked", true);
    ScanShots("english", 25);
    Czech();
    ScanShots("czech", 29);
    return FFailed ? 1 : 0;
  }

 private:
  void Click(const char* Name) { ClickWidget(FWindow.Binding().Widget(Name)); }

  void English() { Language(true); }
  void Czech() { Language(false); }

  // Picks the English entry of the language list, or the other one, as the operator would.
  void Language(bool English) {
    TViewElement& list = FForm.Element("cbbLanguage");
    for (std::size_t i = 0; i < list.ItemCount(); ++i)
      if ((QString::fromStdString(list.Items()[i]).toLower() == QLatin1String("english")) ==
          English) {
        list.Edit("ItemIndex", static_cast<int>(i));
        return;
      }
    std::fprintf(stderr, "demo: no %s language file next to the program\n",
                 English ? "English" : "other");
  }

  // The address scan of the line of three as it goes (the rows read so far) and when it ended,
  // a scan that finds nothing, and one cancelled half way; numbered from First.
  void ScanShots(const QString& Language, int First) {
    const auto number = [&](int Offset, const char* What) {
      return QStringLiteral("%1-%2-%3").arg(First + Offset).arg(QLatin1String(What)).arg(Language);
    };
    bool shown = false;
    int listener = FForm.View().AddListener([&](TViewElement& Element, const std::string&) {
      if (!shown && Element.Name() == "lbSearchingFound" && Element.ItemCount() > 0) {
        shown = true;
        Shot(number(0, "address-scan-searching"));
      }
    });
    FForm.Element("eAddressRange").Edit("Text", "0-15,199-201");
    Click("sSearch");
    FForm.View().RemoveListener(listener);
    Wait(300);
    Shot(number(1, "address-scan"));
    FForm.Element("eAddressRange").Edit("Text", "100-105");
    Click("sSearch");
    Wait(300);
    Shot(number(2, "nothing-found"));
    // Cancelled once the scan is under way.
    const auto started = std::chrono::steady_clock::now();
    bool cancelled = false;
    listener = FForm.View().AddListener([&](TViewElement& Element, const std::string&) {
      if (cancelled || Element.Name() != "ProgressBar1" ||
          std::chrono::steady_clock::now() - started < std::chrono::seconds(2))
        return;
      cancelled = true;
      FForm.Element("sCancelSearch").Click();
    });
    FForm.Element("eAddressRange").Edit("Text", "0-253");
    Click("sSearch");
    FForm.View().RemoveListener(listener);
    Wait(300);
    Shot(number(3, "search-cancelled"));
  }

  // The trend window opened from the measurement page, about 20 seconds of values recorded.
  void TrendWithRecording() {
    Click("sTrend");
    const QString csv = FDirectory + QStringLiteral("/23-trend-english.csv");
    FTrend.StartRecording(csv);
    Wait(20000);
    FTrend.StopRecording();
    Shot("23-trend-english", FTrend);
    if (!FTrend.SaveImage(FDirectory + QStringLiteral("/24-trend-chart.png"))) FFailed = true;
    FTrend.close();
  }

  void Shot(const QString& Name, QWidget& Window) {
    const QString path = FDirectory + QLatin1Char('/') + Name + QStringLiteral(".png");
    if (!Window.grab().save(path)) {
      std::fprintf(stderr, "demo: cannot save %s\n", qPrintable(path));
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
  const std::string prefix = "screenshots:";
  if (!Script.starts_with(prefix)) return std::nullopt;
  const std::string directory = Script.substr(prefix.size());
  if (directory.empty()) throw Exception("KVX_DEMO_SCRIPT: screenshots: needs a directory");
  return QString::fromStdString(directory);
}

void StartDemoWalk(TfMain& Form, TfMainWindow& Window, TfTrendWindow& Trend,
                   const QString& Directory) {
  QTimer::singleShot(0, &Window, [&Form, &Window, &Trend, Directory] {
    int code = 1;
    try {
      code = TDemoWalk(Form, Window, Trend, Directory).Run();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "demo: %s\n", error.what());
    }
    QApplication::exit(code);
  });
}
