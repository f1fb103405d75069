// The program's window as the operator sees it, against simulated modules: a VIROD on a
// pseudo-terminal (COM150) and a DAZAZE behind a simulated USB adapter.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "app/uf_Trend.h"
#include "app/uf_TrendChart.h"
#include "controls/uDoubleEdit.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "tests/net/Ser2net.h"
#include "tests/window/WindowFixture.h"

namespace {

// Waits for Count more readings of the measurement page's ticks.
bool WaitForReadings(const TTrend& Trend, std::size_t Count) {
  const std::size_t Wanted = Trend.Readings().size() + Count;
  return QTest::qWaitFor([&] { return Trend.Readings().size() >= Wanted; }, 15000);
}

// The texts of a page that come from the window (labels, tick boxes, hints), not from the module.
QStringList WindowTextsOf(QWidget* Page) {
  QStringList Texts;
  for (QWidget* Child : Page->findChildren<QWidget*>()) {
    const QString Name = Child->objectName();
    const bool ModuleData = Name == "lModuleName" || Name.startsWith("lMeasuringChannel") ||
                            (Name.startsWith("lChannel") && Name.endsWith("Name"));
    if (!Child->isVisibleTo(Page) || ModuleData) continue;
    if (auto* Label = qobject_cast<QLabel*>(Child)) Texts << Label->text();
    if (auto* Box = qobject_cast<QCheckBox*>(Child)) Texts << Box->text();
    Texts << Child->toolTip();
  }
  return Texts;
}

bool LooksCzech(const QString& Text) {
  static const QString kLetters = QStringLiteral("áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ");
  for (const QChar Letter : kLetters)
    if (Text.contains(Letter)) return true;
  return Text.contains(QStringLiteral("Kan")) || Text.contains(QStringLiteral("Hodnota"));
}

TEST_F(WindowTest, OpensOnTheSearchPageWithItsCaptionAndFixedSize) {
  ASSERT_TRUE(ShowActive(*Window));
  EXPECT_EQ(Window->windowTitle(), "KVX setup 1.0");
  EXPECT_EQ(Window->size(), QSize(695, 551));
  EXPECT_EQ(Window->minimumSize(), Window->maximumSize());
  // Centred on the first monitor when shown.
  const QRect Screen = QGuiApplication::screens().first()->geometry();
  EXPECT_LE(std::abs(Window->geometry().center().x() - Screen.center().x()), 1);
  EXPECT_LE(std::abs(Window->geometry().center().y() - Screen.center().y()), 1);
  EXPECT_TRUE(Shown("pSearch"));
  EXPECT_FALSE(Shown("pMeasure"));
  EXPECT_FALSE(Shown("lbFoundedModules"));
  EXPECT_TRUE(Shown("imgXX"));
  EXPECT_FALSE(Shown("imgUSB"));
  // The language list holds the files found next to the program, the first one chosen.
  auto* Languages = W<QComboBox>("cbbLanguage");
  EXPECT_GE(Languages->count(), 2);
  EXPECT_EQ(Languages->currentIndex(), 0);
}

TEST_F(WindowTest, SearchFindsBothModulesConnectsAndShowsTheMeasuredValues) {
  ASSERT_TRUE(ShowActive(*Window));
  Click("sSearch");  // the search runs to its end inside the click
  auto* List = W<QListWidget>("lbFoundedModules");
  ASSERT_EQ(List->count(), 2);
  QStringList Rows;
  for (int Row = 0; Row < List->count(); ++Row) Rows << List->item(Row)->text();
  EXPECT_TRUE(Rows.contains("VIROD|COM150|1207")) << Rows.join(", ").toStdString();
  EXPECT_TRUE(Rows.contains("DAZAZE|USB|0042")) << Rows.join(", ").toStdString();
  EXPECT_TRUE(Shown("pSearch"));
  EXPECT_TRUE(Shown("lbFoundedModules"));
  EXPECT_TRUE(Shown("sConnect"));

  ConnectTo("VIROD");
  EXPECT_TRUE(Shown("pMeasure"));
  EXPECT_TRUE(Shown("imgRS"));
  EXPECT_FALSE(Shown("imgXX"));
  EXPECT_TRUE(Window->Binding().Timer("Timer1")->isActive());
  const TKvxSimState& State = Rs->State();
  for (int N = 1; N <= 4; ++N) {
    const std::string Row = Format("%d", N);
    auto* Value = W<QLabel>(("lMeasuringChannel" + Row + "Value").c_str());
    // The first tick comes a second after connecting.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Value->text() != "-"; }, 8000)) << N;
    bool Number = false;
    Value->text().trimmed().toDouble(&Number);
    EXPECT_TRUE(Number) << Value->text().toStdString();
    EXPECT_EQ(W<QLabel>(("lChannel" + Row + "Name").c_str())->text().trimmed(),
              Text(State.Channels[N].Setup.Name));
    EXPECT_EQ(W<QLabel>(("lMeasuringChannel" + Row + "Unit").c_str())->text().trimmed(),
              Text(State.Channels[N].Setup.Unit));
  }
  EXPECT_EQ(W<QLabel>("lModuleName")->text(), " - " + Text(State.UserData));

  Click("sbCommunication");
  EXPECT_TRUE(Shown("pConnection"));
  EXPECT_FALSE(Window->Binding().Timer("Timer1")->isActive());
  EXPECT_EQ(W<QLineEdit>("eNameAndVersion")->text(), " " + Text(State.TypeText));
  // The RS model's speed and address can be changed.
  EXPECT_TRUE(W("cbADR")->isEnabled());
  EXPECT_EQ(W<QComboBox>("cbADR")->currentIndex(), State.Address);

  Click("ShapeEx2");
  EXPECT_TRUE(Shown("pSearch"));
  EXPECT_TRUE(Shown("imgXX"));
  EXPECT_TRUE(Capture.Messages.empty());
}

// While it searches, the window goes on running its timers and repainting: the operator sees
// which channel is tried and can press "Zrušit".
TEST_F(WindowTest, TheWindowStaysLiveWhileItSearches) {
  ASSERT_TRUE(ShowActive(*Window));
  int ticksWhileSearching = 0;
  QStringList channelsShown;
  QTimer Timer;
  Timer.setInterval(10);
  QObject::connect(&Timer, &QTimer::timeout, [&] {
    if (!Shown("pSearching")) return;
    ++ticksWhileSearching;
    EXPECT_TRUE(Shown("sCancelSearch"));
    const QString Channel = W<QLabel>("lConnectionDesc")->text();
    if (!Channel.isEmpty() && !channelsShown.contains(Channel)) channelsShown << Channel;
  });
  Timer.start();
  Click("sSearch");
  Timer.stop();
  EXPECT_GT(ticksWhileSearching, 0);
  EXPECT_FALSE(channelsShown.isEmpty());
  for (const QString& Channel : channelsShown)
    EXPECT_TRUE(Channel == "COM150" || Channel == "Simulated adapter") << Channel.toStdString();
  EXPECT_TRUE(Shown("pSearch"));
  EXPECT_EQ(W<QListWidget>("lbFoundedModules")->count(), 2);
}

TEST_F(WindowTest, AModuleBehindASerialDeviceServerIsListedAndConnectedLikeAComPort) {
  if (TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed";
  auto Remote = std::make_shared<TKvxSimModule>(KvxSimFactoryState(mtRS, 3333));
  TSimPty RemoteLine{Remote};
  TSer2net Server(RemoteLine.SlavePath(), true);
  setenv("KVX_COMPORTS", (std::string(std::getenv("KVX_COMPORTS")) + ";9=" + Server.Url()).c_str(),
         1);
  ASSERT_TRUE(ShowActive(*Window));
  Click("sSearch");
  auto* List = W<QListWidget>("lbFoundedModules");
  QStringList Rows;
  for (int Row = 0; Row < List->count(); ++Row) Rows << List->item(Row)->text();
  EXPECT_TRUE(Rows.contains("VIROD|COM9|3333")) << Rows.join(", ").toStdString();

  ConnectTo("VIROD|COM9");
  EXPECT_TRUE(Shown("pMeasure"));
  EXPECT_EQ(Form->ReadCopy().Ident.Production.SerialNumber, 3333);
  auto* Value = W<QLabel>("lMeasuringChannel1Value");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Value->text() != "-"; }, 8000));
  EXPECT_EQ(W<QLabel>("lModuleName")->text(), " - " + Text(Remote->State().UserData));
  Click("ShapeEx2");
  EXPECT_TRUE(Shown("pSearch"));
}

TEST_F(WindowTest, TheUsbModuleShowsItsPictureAndFixedCommunicationSettings) {
  ASSERT_TRUE(ShowActive(*Window));
  Click("sSearch");
  ConnectTo("DAZAZE");
  EXPECT_TRUE(Shown("imgUSB"));
  EXPECT_FALSE(Shown("imgRS"));
  Click("sbCommunication");
  EXPECT_FALSE(W("cbCommunicationSpeed")->isEnabled());
  EXPECT_FALSE(W("cbADR")->isEnabled());
  // A channel page shows the module's channel name in its field.
  Click("ShapeEx4");
  EXPECT_TRUE(Shown("pChannel"));
  EXPECT_EQ(W<QLineEdit>("eChannelName")->text(), Text(Usb->State().Channels[4].Setup.Name));
}

TEST_F(WindowTest, TheTrendButtonOpensATrendWindowThatRecordsAndSavesItsPicture) {
  ASSERT_TRUE(ShowActive(*Window));
  Click("sSearch");
  ConnectTo("VIROD");
  ASSERT_TRUE(WaitForReadings(Form->Trend(), 1));
  EXPECT_FALSE(W("sTrend")->toolTip().isEmpty());
  Click("sTrend");
  ASSERT_TRUE(Trend->isVisible());
  EXPECT_EQ(Trend->windowTitle(), "Průběh");
  const TKvxSimState& State = Rs->State();
  for (int Ch = 0; Ch < 4; ++Ch)
    EXPECT_TRUE(Trend->ChannelBox(Ch).text().startsWith(Text(State.Channels[Ch + 1].Setup.Name)))
        << Trend->ChannelBox(Ch).text().toStdString();

  const QString Dir = QString::fromStdString(testing::TempDir());
  const QString Csv = Dir + "/window-trend.csv";
  Trend->StartRecording(Csv);
  EXPECT_EQ(Trend->RecordButton().text(), "Zastavit záznam");
  ASSERT_TRUE(WaitForReadings(Form->Trend(), 2));
  QFile File(Csv);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  const QStringList Lines = QString::fromUtf8(File.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(Lines.size(), 3) << Lines.join("|").toStdString();
  EXPECT_TRUE(Lines[0].startsWith("time,")) << Lines[0].toStdString();
  EXPECT_EQ(Lines[1].count(','), 4) << Lines[1].toStdString();

  Trend->ChannelBox(1).click();
  EXPECT_FALSE(Trend->Chart().Shown()[1]);
  const QString Png = Dir + "/window-trend.png";
  ASSERT_TRUE(Trend->SaveImage(Png));
  EXPECT_FALSE(QImage(Png).isNull());

  // Another module, or none: the trend starts again and the recording ends.
  Click("ShapeEx2");
  EXPECT_TRUE(Form->Trend().Readings().empty());
  EXPECT_FALSE(Trend->Recording());
  QFile::remove(Csv);
  QFile::remove(Png);
}

TEST_F(WindowTest, TheRecordingAsksInTheWindowsLanguageAndInTheFolderUsedLast) {
  const ScopedEnv Home("HOME", Config.File("home"));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Config.File("home/Documents"))));
  Trend->Open();
  const QString Folder = QDir(QString::fromStdString(Config.Dir())).absolutePath();
  const QString Asked = QDir(Folder).filePath("asked.csv");
  const struct {
    const char* What;
    QString Opens;  // the folder the dialog shows
  } kCases[] = {
      {"at first", QString::fromStdString(Config.File("home/Documents"))},
      {"after a recording", Folder},
  };
  for (const auto& Case : kCases) {
    SCOPED_TRACE(Case.What);
    QString Shown, Accept;
    QTimer Answer;
    QObject::connect(&Answer, &QTimer::timeout, [&] {
      auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!Dialog) return;
      Answer.stop();
      Shown = QDir(Dialog->directory()).absolutePath();
      Accept = Dialog->labelText(QFileDialog::Accept);
      Dialog->selectFile(Asked);
      static_cast<QDialog*>(Dialog)->done(QDialog::Accepted);
    });
    Answer.start(10);
    Trend->RecordButton().click();
    EXPECT_EQ(Shown, QDir(Case.Opens).absolutePath());
    EXPECT_EQ(Accept, "Uložit");
    EXPECT_TRUE(Trend->Recording());
    Trend->RecordButton().click();  // stops it
    QFile::remove(Asked);
  }
}

TEST_F(WindowTest, FilesThatCannotBeWrittenAreReportedInTheWindowsLanguage) {
  const std::string Missing = Config.File("no-such-folder/trend");
  const struct {
    const char* Name;
    const char* Language;  // none: as the window starts
    bool Image;
    std::string File;
    std::string Message;
  } kCases[] = {
      {"recording into a missing folder", nullptr, false, Missing + ".csv",
       "Soubor " + Missing + ".csv nelze zapsat: složka neexistuje."},
      {"recording onto a full disk", nullptr, false, "/dev/full",
       "Soubor /dev/full nelze zapsat: disk je plný."},
      {"picture into a missing folder", nullptr, true, Missing + ".png",
       "Soubor " + Missing + ".png nelze zapsat: složka neexistuje."},
      {"recording in english", "english", false, "/dev/full",
       "Cannot write /dev/full: the disk is full."},
  };
  TViewElement& Languages = Form->Element("cbbLanguage");
  for (const auto& Case : kCases) {
    SCOPED_TRACE(Case.Name);
    if (Case.Language) {
      const auto Entry =
          std::find(Languages.Items().begin(), Languages.Items().end(), Case.Language);
      ASSERT_NE(Entry, Languages.Items().end());
      Languages.Edit("ItemIndex", static_cast<int>(Entry - Languages.Items().begin()));
    }
    Capture.Messages.clear();
    const QString File = QString::fromStdString(Case.File);
    EXPECT_FALSE(Case.Image ? Trend->SaveImage(File) : Trend->StartRecording(File));
    EXPECT_FALSE(Trend->Recording());
    EXPECT_EQ(Capture.Messages, std::vector<std::string>{Case.Message});
  }
}

TEST_F(WindowTest, SwitchingToEnglishLeavesNoCzechTextOnTheChannelPage) {
  ASSERT_TRUE(ShowActive(*Window));
  Click("sSearch");
  ConnectTo("VIROD");
  std::map<QLabel*, int> CzechSizes;
  for (QLabel* Label : W("pMeasure")->findChildren<QLabel*>())
    CzechSizes[Label] = Label->font().pointSize();
  TViewElement& Languages = Form->Element("cbbLanguage");
  const auto English = std::find(Languages.Items().begin(), Languages.Items().end(), "english");
  ASSERT_NE(English, Languages.Items().end());
  Languages.Edit("ItemIndex", static_cast<int>(English - Languages.Items().begin()));
  // The measurement page's labels fit in English at their Czech size.
  for (const auto& [Label, Size] : CzechSizes)
    EXPECT_GE(Label->font().pointSize(), Size) << Label->objectName().toStdString();

  for (const char* Page : {"sbMeasuring", "sbChannel2"}) {
    Click(Page);
    for (const QString& Shown :
         WindowTextsOf(W(Page == std::string("sbMeasuring") ? "pMeasure" : "pChannel")))
      EXPECT_FALSE(LooksCzech(Shown)) << Page << ": " << Shown.toStdString();
  }
  EXPECT_EQ(W<QLabel>("lChannel")->text(), "Channel 2");
  EXPECT_TRUE(W<QLabel>("Label4")->text().startsWith("( Input range: "))
      << W<QLabel>("Label4")->text().toStdString();

  // A refused number is refused in English.
  auto* Upper = W<TDoubleEdit>("deMaxValue");
  Upper->setText("20000");
  Upper->CheckValue();  // refused: the message comes and the text stays as typed
  ASSERT_FALSE(Capture.Messages.empty());
  EXPECT_EQ(Capture.Messages.back().rfind("Upper limit must be between -10000", 0), 0u)
      << Capture.Messages.back();
  EXPECT_FALSE(LooksCzech(QString::fromStdString(Capture.Messages.back())));
  Trend->Open();
  EXPECT_EQ(Trend->windowTitle(), "Trend");
  EXPECT_EQ(Trend->RecordButton().text(), "Record");
}

}  // namespace
