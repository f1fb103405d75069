#pragma once
// What the main window's controller needs from its front end besides the view elements:
// the busy cursor, handling pending window events during a wait, drawing an element at
// once, the check of an entry still being typed and the application's error report. The Qt window
// implements them with the toolkit; the plain implementation serves the tests and headless front
// ends.
#include <string>
#include <vector>

class TViewElement;

class IMainServices {
 public:
  virtual ~IMainServices() = default;
  virtual bool BusyCursor() const = 0;
  virtual void SetBusyCursor(bool Busy) = 0;
  // Handles what is pending: device changes, port events posted to the main thread.
  virtual void ProcessMessages() = 0;
  // Draws the element now, also while the controller runs a loop of its own (a search).
  virtual void Repaint(TViewElement& Element) = 0;
  // The application's report of an error nobody handled.
  virtual void ShowError(const std::string& Text) = 0;
  // Opens the trend window of the measured values, or brings it to the front.
  virtual void ShowTrend() = 0;
  // Checks the entry of the number field being typed in, as leaving the field would; false
  // when the field refused it (it then shows its range message and keeps the focus).
  virtual bool AcceptPendingEntry() = 0;
  // Asks the operator Question with the answers Yes and No; true for Yes.
  virtual bool Confirm(const std::string& Question, const std::string& Yes,
                       const std::string& No) = 0;
};

// Shows the busy cursor for a scope and then the cursor that was there before.
class TBusyCursor {
 public:
  explicit TBusyCursor(IMainServices& Services)
      : FServices(Services), FPrevious(Services.BusyCursor()) {
    FServices.SetBusyCursor(true);
  }
  ~TBusyCursor() { FServices.SetBusyCursor(FPrevious); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  IMainServices& FServices;
  bool FPrevious;
};

// Without a display: pending events are those of the main-thread dispatcher; errors go to
// the operator's message handler; there is nothing to draw and no trend window.
class TPlainMainServices : public IMainServices {
 public:
  bool BusyCursor() const override { return FBusy; }
  void SetBusyCursor(bool Busy) override { FBusy = Busy; }
  void ProcessMessages() override;
  void Repaint(TViewElement&) override {}
  void ShowError(const std::string& Message) override;
  void ShowTrend() override {}
  // Without a display every value is entered whole, and nobody is there to be asked.
  bool AcceptPendingEntry() override { return true; }
  bool Confirm(const std::string&, const std::string&, const std::string&) override { return true; }

 private:
  bool FBusy = false;
};
