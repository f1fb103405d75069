#pragma once
// Shared by the widget tests: the application object (offscreen) and a capture of the
// messages shown to the operator.
#include <QWidget>
#include <string>
#include <vector>

#include "support/uMessages.h"

// Records every message while it lives.
class TMessageCapture {
 public:
  TMessageCapture();
  ~TMessageCapture();
  TMessageCapture(const TMessageCapture&) = delete;
  TMessageCapture& operator=(const TMessageCapture&) = delete;

  std::vector<std::string> Messages;

 private:
  TMessageHandler FPrevious;
};

// Shows Window and makes it the active window, so that focus changes happen as on a desktop.
bool ShowActive(QWidget& Window);
