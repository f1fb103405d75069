#pragma once
// The main window's controller on its own, against simulated modules: COM ports on
// pseudo-terminals (through KVX_COMPORTS) and USB adapters of the fake driver library. The
// controller's trace lines are read back from the diagnostic log.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/uMain.h"
#include "app/uMainServices.h"
#include "sim/uKvxSimModule.h"
#include "sim/uSimPty.h"
#include "tests/serial/SerialTestUtils.h"
#include "tests/support/TempDir.h"
#include "usb/uci_FTDImanager.h"

// The plain services of a headless front end, keeping what the controller asked of them.
class TRecordingMainServices : public TPlainMainServices {
 public:
  // Runs whenever the controller lets the window handle its events (during a search).
  std::function<void()> WhileBusy;
  void ProcessMessages() override {
    TPlainMainServices::ProcessMessages();
    if (WhileBusy) WhileBusy();
  }
  void Repaint(TViewElement& Element) override {
    TPlainMainServices::Repaint(Element);
    ++FRepaints;
  }
  void ShowError(const std::string& Text) override {
    FErrors.push_back(Text);
    TPlainMainServices::ShowError(Text);
  }
  void ShowTrend() override {
    TPlainMainServices::ShowTrend();
    ++FTrendShown;
  }
  bool Confirm(const std::string& Question, const std::string&, const std::string&) override {
    Questions.push_back(Question);
    return Answer;
  }
  bool Answer = true;  // to every question
  std::vector<std::string> Questions;

  int TrendShown() const { return FTrendShown; }
  int Repaints() const { return FRepaints; }
  const std::vector<std::string>& Errors() const { return FErrors; }

 private:
  int FRepaints = 0;
  int FTrendShown = 0;
  std::vector<std::string> FErrors;
};

struct TTraceLine {
  int Point = 0;
  std::string Text;
  std::chrono::milliseconds At{0};  // time of day of the line
};

class TAppRig {
 public:
  explicit TAppRig(std::vector<std::string> Args = {});
  ~TAppRig();
  TAppRig(const TAppRig&) = delete;
  TAppRig& operator=(const TAppRig&) = delete;

  // A simulated module on COM port Port.
  std::shared_ptr<TKvxSimModule> AddComModule(int Port, const TKvxSimState& State);
  // Any peer on COM port Port (a silent one: a port without a module).
  void AddComPeer(int Port, std::shared_ptr<ISimPeer> Peer);
  // A port entry of COM port Port naming Path (a node or a device server's URL).
  void AddComEntry(int Port, const std::string& Path);
  // The pseudo-terminal that serves COM port Port (empty when none does).
  std::string ComPath(int Port) const;
  // A module behind a plugged-in USB adapter.
  std::shared_ptr<TKvxSimModule> AddUsbModule(const std::string& Serial,
                                              const std::string& Description,
                                              const TKvxSimState& State);
  // Pulls the adapter out and tells the manager, as the device watcher would.
  void UnplugUsb(const std::string& Serial);

  // The window, created on first use and shown.
  TfMain& Form();
  TViewElement& operator[](std::string_view Name) { return Form().Element(Name); }
  TFTDIManager& Manager() { return *FManager; }
  // The controller's trace lines so far.
  std::vector<TTraceLine> Trace() const;
  // The trace lines from the test of the channel described as Description to the next test.
  std::vector<TTraceLine> TraceOfTest(const std::string& Description) const;
  // The page shown (the one visible page).
  std::string PageShown();

  TTestMainThread Main;
  TRecordingMainServices Services;

 private:
  void UpdatePortMap();

  std::vector<std::string> FArgs;
  TTempDir FLogDir;
  TTempDir FStateDir;  // $XDG_STATE_HOME while the rig lives
  std::optional<std::string> FStateBefore;
  std::vector<std::pair<int, std::string>> FPorts;
  std::vector<std::unique_ptr<TSimPty>> FPtys;
  std::vector<std::shared_ptr<TKvxSimModule>> FUsbModules;
  std::unique_ptr<TFTDIManager> FManager;
  std::unique_ptr<TfMain> FForm;
};
