#include "tests/controls/QtTestApp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // No display is needed or wanted, also when the suite is run by hand.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    FApplication = std::make_unique<QApplication>(FArgc, FArgv);
  }
  void TearDown() override { FApplication.reset(); }

 private:
  int FArgc = 1;
  char FName[16] = "controls_tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApplication;
};

// Google Test takes ownership of the environment.
[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace

TMessageCapture::TMessageCapture() {
  FPrevious = SetMessageHandler([this](const std::string& text) { Messages.push_back(text); });
}

TMessageCapture::~TMessageCapture() {
  SetMessageHandler(FPrevious);
}

bool ShowActive(QWidget& Window) {
  Window.show();
  QApplication::setActiveWindow(&Window);
  return QTest::qWaitForWindowActive(&Window);
}
