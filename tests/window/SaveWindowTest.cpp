// Saving from the window against the simulated modules: what the module receives, and what
// the pages show afterwards.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <bit>

#include "protocol/uKVXInstructions.h"
#include "sim/uKvxSimDevice.h"
#include "tests/window/WindowFixture.h"

namespace {

class SaveWindowTest : public WindowTest {
 protected:
  // Short replies keep every write inside its time limit on a busy machine.
  SaveWindowTest() { SetRsSpeed(10); }
  void SetRsSpeed(std::uint8_t SpeedCode) {
    TKvxSimState State = Rs->State();
    State.SpeedCode = SpeedCode;
    Rs->SetState(State);
  }
  void SearchAndConnectTo(const QString& Prefix) {
    ASSERT_TRUE(ShowActive(*Window));
    Click("sSearch");
    ConnectTo(Prefix);
  }
  // Clicks into the field, selects its text and types over it.
  void Type(const char* Name, const QString& Typed) {
    QWidget* Field = W(Name);
    QTest::mouseClick(Field, Qt::LeftButton, {}, QPoint(8, Field->height() / 2));
    if (auto* Line = qobject_cast<QLineEdit*>(Field)) Line->selectAll();
    if (auto* Memo = qobject_cast<QPlainTextEdit*>(Field)) Memo->selectAll();
    QTest::keyClicks(Field, Typed);
  }
  QString FieldText(const char* Name) {
    return W<QLineEdit>(Name)->text().replace(QLatin1Char(','), QLatin1Char('.'));
  }
  std::vector<std::uint8_t> WritesTo(const TKvxSimModule& Module) {
    std::vector<std::uint8_t> writes;
    for (const TKvxSimRequest& Request : Module.Requests())
      if (IsSimWrite(Request.Instruction)) writes.push_back(Request.Instruction);
    return writes;
  }
};

TEST_F(SaveWindowTest, SaveNeverSendsARefusedLimit) {
  SearchAndConnectTo("VIROD");
  Click("sbChannel1");
  Rs->ClearRequests();
  Type("deMaxValue", "50000");
  Click("sSaveChanges1");
  ASSERT_EQ(Capture.Messages.size(), 1u);
  EXPECT_NE(Capture.Messages[0].find("musí být v rozmezí od -10000"), std::string::npos)
      << Capture.Messages[0];
  EXPECT_TRUE(W("deMaxValue")->hasFocus());
  // Another channel's tab does not carry the refused entry past the check either.
  Click("ShapeEx3");
  Click("sSaveChanges1");
  EXPECT_EQ(Capture.Messages.size(), 3u);
  EXPECT_EQ(W<QLabel>("lChannel")->text(), "Kanál 1");
  EXPECT_TRUE(WritesTo(*Rs).empty());
  EXPECT_EQ(Rs->State().Channels[1].Watch.UpperLimit, 950);

  // Within range it goes; the decimals field corrects 7 to its bound before the save.
  Type("deMaxValue", "500");
  Type("ieDecimals", "7");
  Click("sSaveChanges1");
  EXPECT_EQ(Capture.Messages.size(), 3u);
  EXPECT_EQ(W<QLineEdit>("ieDecimals")->text(), "2");
  EXPECT_EQ(Rs->State().Channels[1].Watch.UpperLimit, 500);
  EXPECT_EQ(Rs->State().Channels[1].Setup.Decimals, 2);
  EXPECT_FALSE(Shown("sSaveChanges1"));
}

TEST_F(SaveWindowTest, AnIgnoredWriteLeavesTheModulesValueOnThePageAndIsNamed) {
  SearchAndConnectTo("VIROD");
  Click("sbChannel1");
  TKvxSimFaults ignoring;
  ignoring.OnlyInstruction = kiWriteChannelWatch;
  ignoring.IgnoreWrites = true;
  Rs->SetFaults(ignoring);
  Type("deMaxValue", "500");
  Type("eChannelUnit", "K");
  Click("sSaveChanges1");

  EXPECT_EQ(FieldText("deMaxValue"), "950");
  EXPECT_EQ(FieldText("eChannelUnit"), "K");
  EXPECT_EQ(Capture.Messages,
            std::vector<std::string>{"Modul nepřijal tyto hodnoty:\nKanál 1: Horní mez"});
  EXPECT_FALSE(Shown("sSaveChanges1"));  // nothing on the page differs from the module
  EXPECT_TRUE(Shown("pChannel"));

  // Typed again, it goes.
  Rs->SetFaults({});
  Type("deMaxValue", "500");
  Click("sSaveChanges1");
  EXPECT_EQ(Rs->State().Channels[1].Watch.UpperLimit, 500);
  EXPECT_EQ(FieldText("deMaxValue"), "500");
  EXPECT_FALSE(Shown("sSaveChanges1"));
  EXPECT_EQ(Capture.Messages.size(), 1u);
}

TEST_F(SaveWindowTest, AFailedConnectShowsNothingOfTheModuleConnectedBefore) {
  // Texts found nowhere else in the window.
  TKvxSimState Other = Usb->State();
  for (int N = 1; N <= 4; ++N)
    Other.Channels[N].Setup.Name = PadRight(Format("Sklad 9 vstup %d", N), 21);
  Other.UserData = PadRight("Sklad 9", 16);
  Usb->SetState(Other);
  SearchAndConnectTo("DAZAZE");
  Click("ShapeEx4");
  Click("sbCommunication");
  Click("ShapeEx2");

  TKvxSimFaults Silent;
  Silent.NoAnswer = true;
  Rs->SetFaults(Silent);
  ChooseRow("VIROD");
  Click("sConnect");
  EXPECT_TRUE(Shown("pError"));
  EXPECT_FALSE(Shown("pMeasure"));
  EXPECT_FALSE(Form->Element("sSaveChanges1").GetBool("Visible"));
  EXPECT_TRUE(Shown("imgXX"));
  for (QWidget* Widget : Window->findChildren<QWidget*>()) {
    QString Shows;
    if (auto* Label = qobject_cast<QLabel*>(Widget)) Shows = Label->text();
    if (auto* Line = qobject_cast<QLineEdit*>(Widget)) Shows = Line->text();
    if (auto* Memo = qobject_cast<QPlainTextEdit*>(Widget)) Shows = Memo->toPlainText();
    EXPECT_FALSE(Shows.contains("Sklad 9") || Shows.contains("DAZAZE"))
        << Widget->objectName().toStdString() << ": " << Shows.toStdString();
  }

  // "Opakovat" connects again; on a loaded machine it may take the operator a few tries.
  Rs->SetFaults({});
  for (int Attempt = 0; Attempt < 3 && Shown("pError"); ++Attempt) Click("ShapeEx5");
  EXPECT_TRUE(Shown("pMeasure"));
  EXPECT_TRUE(Shown("imgRS"));
  EXPECT_EQ(W<QLabel>("lChannel1Name")->text().trimmed(), Text(Rs->State().Channels[1].Setup.Name));
}

TEST_F(SaveWindowTest, ANewSpeedOnTheRsModelEndsConnectedOnThePageItWasSavedFrom) {
  SetRsSpeed(6);
  SearchAndConnectTo("VIROD");
  Click("sbCommunication");
  auto* Speed = W<QComboBox>("cbCommunicationSpeed");
  ASSERT_EQ(Speed->currentIndex(), 6);  // 9600 Bd
  Speed->setFocus();
  QTest::keyClick(Speed, Qt::Key_Down);
  ASSERT_TRUE(Shown("sSaveChanges1"));
  Click("sSaveChanges1");

  EXPECT_EQ(Rs->State().SpeedCode, 7);
  EXPECT_TRUE(Shown("pConnection"));
  EXPECT_EQ(Speed->currentText(), "19 200 Bd");
  EXPECT_FALSE(Shown("sSaveChanges1"));
  EXPECT_TRUE(Capture.Messages.empty());
  // The measured values keep coming at the new speed.
  Click("sbMeasuring");
  auto* Value = W<QLabel>("lMeasuringChannel1Value");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Value->text() != "-"; }, 8000));
}

// Counts the paints of a widget.
class TPaints : public QObject {
 public:
  explicit TPaints(QWidget* Widget) { Widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* Event) override {
    Count += Event->type() == QEvent::Paint;
    return false;
  }
  int Count = 0;
};

TEST_F(SaveWindowTest, ASaveToASilentModuleKeepsDrawingAndDropsAClickMadeMeanwhile) {
  SearchAndConnectTo("VIROD");
  Click("sbChannel1");
  Type("eChannelUnit", "K");
  TKvxSimFaults Silent;
  Silent.NoAnswer = true;
  Rs->SetFaults(Silent);
  const TPaints Paints(W("lBusy"));
  // What the operator sees while the save waits, and another tab clicked meanwhile.
  bool Busy = false;
  QMetaObject::invokeMethod(
      Window.get(),
      [&] {
        Busy = W<QLabel>("lBusy")->isVisible() && W<QLabel>("lBusy")->text() == "Ukládám…" &&
               QApplication::overrideCursor() &&
               QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        Click("ShapeEx3");
      },
      Qt::QueuedConnection);
  Click("sSaveChanges1");
  QCoreApplication::processEvents();
  EXPECT_TRUE(Busy);
  EXPECT_GT(Paints.Count, 0) << "the busy line drawn during the save";
  EXPECT_FALSE(Shown("lBusy"));
  EXPECT_EQ(W<QLabel>("lChannel")->text(), "Kanál 1") << "the tab clicked during the save";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SaveWindowTest, AnErasedRealLeavesSaveHidden) {
  TKvxSimState Erased = Rs->State();
  Erased.Channels[2].Watch.Hysteresis = std::bit_cast<float>(0xFFFFFFFFu);
  Rs->SetState(Erased);
  SearchAndConnectTo("VIROD");
  EXPECT_FALSE(Shown("sSaveChanges1"));
  Click("sbChannel2");
  EXPECT_FALSE(Shown("sSaveChanges1"));
}

TEST_F(SaveWindowTest, AnUploadWhoseFirstReplyIsMalformedStillSendsEveryLaterWrite) {
  SearchAndConnectTo("VIROD");
  Click("sbCommunication");
  Type("mUserData", "Linka 7");
  Click("sbChannel2");
  Type("eChannelUnit", "psi");
  Click("sbChannel1");
  Type("deHystValue", "3");
  TKvxSimFaults Garbled;
  Garbled.OnlyInstruction = kiEnableConfig;
  Garbled.ShortLengthField = true;
  Rs->SetFaults(Garbled);
  Rs->ClearRequests();
  Click("sSaveChanges1");

  EXPECT_EQ(WritesTo(*Rs),
            (std::vector<std::uint8_t>{kiWriteUserData, kiWriteChannelWatch, kiWriteChannelSetup}));
  const TKvxSimState Held = Rs->State();
  EXPECT_EQ(Held.UserData, PadRight("Linka 7", 16));
  EXPECT_EQ(Held.Channels[1].Watch.Hysteresis, 3);
  EXPECT_EQ(Held.Channels[2].Setup.Unit, "psi  ");
  // Read back: the page shows it and nothing is left to save.
  EXPECT_TRUE(Shown("pChannel"));
  EXPECT_EQ(FieldText("deHystValue"), "3");
  EXPECT_FALSE(Shown("sSaveChanges1"));
  EXPECT_TRUE(Capture.Messages.empty());
}

TEST_F(SaveWindowTest, LimitFieldsShowTheValueTheModuleStores) {
  TKvxSimState Limits = Rs->State();
  Limits.Channels[1].Watch.UpperLimit = 12.3f;
  Limits.Channels[1].Watch.LowerLimit = -0.1f;
  Rs->SetState(Limits);
  SearchAndConnectTo("VIROD");
  Click("sbChannel1");
  EXPECT_EQ(FieldText("deMaxValue"), "12.3");
  EXPECT_EQ(FieldText("deMinValue"), "-0.1");
}

TEST_F(SaveWindowTest, OnlyTheMeasurementTabComesUpWhenClickedAgain) {
  SearchAndConnectTo("VIROD");
  Click("sbCommunication");
  Click("sbCommunication");
  EXPECT_TRUE(Form->Element("sbCommunication").GetBool("Down"));
  Click("sbMeasuring");
  EXPECT_TRUE(Form->Element("sbMeasuring").GetBool("Down"));
  Click("sbMeasuring");
  EXPECT_FALSE(Form->Element("sbMeasuring").GetBool("Down"));
  EXPECT_TRUE(Shown("pMeasure"));
}

}  // namespace
