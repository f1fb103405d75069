#pragma once
// The main window's controller: the pages and the rule that exactly one is shown, the search
// for modules, connecting and disconnecting, the configuration pages with saving and the
// measurement view (uMain.cpp, uMainSearch.cpp, uMainPages.cpp, uMainMeasure.cpp). It knows the
// window only as view elements, so it runs without a display; everything here belongs to the
// user-interface thread. The front end runs the element "Timer1" (its Enabled and Interval) by
// firing its "OnTimer" event, lets the operator's actions in through Click() and Edit(), and shows
// the window after FormShow().
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/uMainServices.h"
#include "app/uModuleSearch.h"
#include "app/uPageFields.h"
#include "app/uTrend.h"
#include "app/uViewElement.h"
#include "protocol/uKVXxxCommands.h"
#include "support/uLogUtils.h"

class TFTDIManager;

class TfMain : public TLogSender {
 public:
  using TLanguageInit = std::function<void(TfMain& Form)>;

  // Creates the window's elements and runs the creation steps: languages (through
  // InitializeLanguages, whose errors go to the error report), the command line (Args
  // without the program's own path), the manager's callbacks, the address list, the caption.
  TfMain(TFTDIManager& Manager, IMainServices& Services, std::vector<std::string> Args,
         const TLanguageInit& InitializeLanguages = {});
  ~TfMain() override;
  TfMain(const TfMain&) = delete;
  TfMain& operator=(const TfMain&) = delete;

  std::string ClassName() const override { return "TfMain"; }
  std::optional<std::string> ComponentName() const override { return FView.Name(); }

  TViewElement& View() { return FView; }
  TViewElement& Element(std::string_view Name) const { return FView.Component(Name); }

  // First show: to the search page, first language item selected unless the language
  // remembered from the last run is.
  void FormShow();
  // The window closes: a search under way is cancelled, and the module is let go (polling
  // stops, the trend and its recording end, the port is closed).
  void FormClose();

  void ShowPage(TViewElement& Page);
  // Opens the channel and looks for a module at each search speed; on an answer downloads its
  // record into Rec. Unless KeepOpen, the channel gets its state and settings back.
  bool TestChannel(const TKVXChannel& Channel, TKVXrec& Rec, bool KeepOpen);
  // True when the channel's module answered and its download succeeded. A module on a shared
  // line is reached at its own Address; the universal one reaches whichever module answers.
  bool Connect(const TKVXChannel& Channel, std::uint8_t Address = kUniversalAddress);
  bool Refresh(bool Download);
  // The connected module is spoken to at its own address (the one it reported) from now on, as
  // one found on a shared line: a save that changes the address reads it back at the new one.
  void UseOwnAddress();
  bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                std::int32_t Timeout, std::string& Reply);

  // Tests every channel of the manager at once; the window stays live meanwhile and "Zrušit"
  // ends the search, keeping the modules found so far. Channels that come or go meanwhile are
  // handled when it ends.
  void ScanCIs();
  void AddFoundModule(const TFoundModule& Found);
  // The row of the current module, found at address Before, now shows it at its own address.
  void MoveFoundRow(std::uint8_t Before, const TKVXrec& Rec);
  // A module on a shared line: refuses (saying so) an address another module answers at, and
  // says that a new speed leaves the other modules at the old one.
  bool SharedLineAllowsSave();
  void UpdateFoundSection();
  void lConnectClick();
  void ChannelArrived(const TKVXChannel& Channel);
  void ChannelRemoved(const TKVXChannel& Channel);
  // The port of the module the window was connected to when its device went away; empty
  // while no such message is shown.
  const std::string& ChannelGone() const { return FChannelGone; }
  // What the channel named about why it went or why it could not be used, when it did:
  // shown in place of the plain texts.
  const TChannelProblem& ChannelProblem() const { return FChannelProblem; }
  // A port the last search could not open for want of permission, when it found no module.
  // Several are separated by ", ", each named with its node and group (RefusedPortText).
  const std::string& PermissionRefused() const { return FPermissionRefused; }
  // The ports where the last search found several modules answering at once.
  const std::vector<std::string>& Collisions() const { return FCollisions; }
  // What each channel of the last search without a module named of its fault, in the
  // channels' order (shown when the search found nothing).
  const std::vector<TChannelProblem>& SearchProblems() const { return FSearchProblems; }
  // How the last search ended: the channels searched, those whose test ended before any
  // cancel, and whether it was cancelled.
  struct TSearchSummary {
    std::size_t Channels = 0;
    std::size_t Finished = 0;
    double Done = 0;  // the share done, 0 to 1
    bool Cancelled = false;
  };
  const TSearchSummary& LastSearch() const { return FLastSearch; }

  void FillCommunicationPage();
  bool ShowChannelPage(int Channel);
  void UpdateSaveButton();
  // Uploads the changes, reads the module back and shows what it holds on every page; the
  // fields it did not take are named to the operator and dropped from the edited copy.
  void SaveChanges();
  void MeasureTick();

  const TKVXChannel& CurrentChannel() const { return FCurrent; }
  std::uint8_t CurrentAddress() const { return FAddress; }
  const TKVXrec& ReadCopy() const { return FRead; }
  const TKVXrec& EditedCopy() const { return FEdited; }
  // Changes the edited copy where no page field can (a restore's exact singles: a -0, a
  // not-a-number); the save button follows.
  void EditCopy(const std::function<void(TKVXrec& Edited)>& Change);
  const std::vector<TKVXChannel>& FoundChannels() const { return FFound; }
  const std::string& ExtraSpeed() const { return FExtraSpeed; }
  bool Show420Always() const { return FShow420Always; }
  // The fields the last save found the module not holding as saved (named to the operator).
  const std::vector<TPageField>& FieldsNotTaken() const { return FFieldsNotTaken; }
  // The address another module of the line answered at, when the last save refused to move
  // the module there (nothing was written).
  std::optional<std::uint8_t> AddressTaken() const { return FAddressTaken; }
  // Whether a module answered the last connection test's check (its download may still fail).
  bool LastTestAnswered() const { return FLastTestAnswered; }
  // Whether the last connection test's check got garbled replies: modules answering at once.
  bool LastTestCollided() const { return FLastTestCollided; }
  // The speed each port's module answered at, tried first there next time.
  TSpeedMemory& Speeds() { return FSpeeds; }
  // The connected module's readings since connecting, one per measurement tick.
  TTrend& Trend() { return FTrend; }

 private:
  void ReadCommandLine(const std::vector<std::string>& Args);
  void ConnectHandlers();
  void OnClick(std::string_view Name, void (TfMain::*Handler)());
  void OnChange(std::string_view Name, void (TfMain::*Handler)(TViewElement&));
  TChannelTestSetup TestSetup();
  void ShowSearchProgress(const TModuleSearch& Search);
  // Lists the modules the running search has read so far, in the channels' order.
  void ShowFoundSoFar(const TModuleSearch& Search);
  // The line that tells how a search ended, at Top: nothing found, or how far a cancelled
  // search came; empty hides it.
  void ShowSearchResult(const std::string& Text, int Top);
  // The modules found, as rows in the order of the manager's channels: a row whose channel's
  // port already has a row at the same address replaces it.
  void PlaceFoundModule(const TFoundModule& Found);
  void ShowChannelProblems(const std::vector<TChannelProblem>& Problems);
  // The window's text of Problem; empty for a kind it has none for.
  std::string ProblemCaption(const TChannelProblem& Problem);
  void CancelSearch();
  // Adds the modules of the channel tests that hot-plug started and that have ended.
  void ArrivalsTested();
  void ReplayDeferredChanges();
  void ShowChannelGone(const std::string& Port, const TChannelProblem& Problem = {});
  void ShowChannelProblem(const TChannelProblem& Problem);
  void ShowPermissionRefused(const std::string& Port);
  // "COM5 is used by kvxctl serve, pid 1234" on the search page; nothing for an empty Port.
  void ShowPortHeld(const std::string& Port, const std::string& Holder);
  void ShowCollisions(const std::vector<std::string>& Ports);
  // Element Label shows the text of element Template with %s replaced by Port (hidden when
  // Port is empty).
  void ShowPortMessage(const char* Label, const char* Template, const std::string& Port);
  void ShowModulePicture();
  // Reads the module into the read copy; false on any failure (the copy may then be partial).
  bool DownloadReadCopy();
  // Uploads the edited copy's changes and reads the module back. A module that took a new
  // speed answers only at it: the channel follows it there (and comes back when the module
  // kept its old speed).
  bool UploadAndReadBack();
  // After a failed connect: no name, unit or setting of any module stays on the pages.
  void ForgetModule();
  void FillChannelPage(const TKVXrec& Rec, int Channel);
  void ShowMeasurements(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values);
  void FillMeasurementNames();
  void ReportFieldsNotTaken(const std::vector<TPageField>& Fields);
  void PressMeasuring();
  void Retry();
  void Disconnect();
  void ShowMeasurePage();
  void ShowCommunicationPage();
  void ShowTrend();
  void ChannelButtonClick(TViewElement& Button);
  // Change handlers of the configuration pages.
  int PageChannel() const;
  void SpeedChange(TViewElement& Sender);
  void AddressChange(TViewElement& Sender);
  void UserDataChange(TViewElement& Sender);
  void NameChange(TViewElement& Sender);
  void UnitChange(TViewElement& Sender);
  void RangeChange(TViewElement& Sender);
  void DecimalsChange(TViewElement& Sender);
  void LoopChange(TViewElement& Sender);
  void GainChange(TViewElement& Sender);
  void WatchingChange(TViewElement& Sender);
  void LimitChange(TViewElement& Sender);
  // The text of a language item (a TLanguageText element).
  std::string Text(std::string_view Name) const;
  // The number fields' name and range message from the language items.
  void ApplyFieldTexts();
  void ShowChannelHeading(int Channel);
  void AddToTrend(const std::array<TKVXChannelRecountedValue, kChannelCount>& Values);

  // For a scope: the busy cursor and the line that says what the window is doing (the text of
  // the language item Text; none for ""). An inner scope keeps the line of the outer one.
  class TBusyLine {
   public:
    TBusyLine(TfMain& Form, std::string_view Text);
    ~TBusyLine();
    TBusyLine(const TBusyLine&) = delete;
    TBusyLine& operator=(const TBusyLine&) = delete;

   private:
    TfMain& FForm;
    TBusyCursor FCursor;
    bool FShown = false;
  };

  TViewElement FView{"TfMain", "fMain"};
  TFTDIManager& FManager;
  IMainServices& FServices;
  TKVXChannel FCurrent;
  std::uint8_t FAddress = kUniversalAddress;  // where the current module's requests go
  TKVXrec FRead;
  TKVXrec FEdited;
  std::vector<TKVXChannel> FFound;
  std::vector<std::uint8_t> FFoundAddresses;  // each row's module address, beside FFound
  std::string FExtraSpeed;
  bool FShow420Always = false;
  TTrend FTrend;
  int FTextListener = 0;
  bool FLastTestAnswered = false;
  bool FLastTestCollided = false;
  // The last connect found the module: "Opakovat" reads it again rather than connecting anew.
  bool FConnected = false;
  std::vector<TPageField> FFieldsNotTaken;
  std::optional<std::uint8_t> FAddressTaken;
  std::string FChannelGone;
  TChannelProblem FChannelProblem;
  std::string FPermissionRefused;
  std::vector<std::string> FCollisions;
  std::vector<TChannelProblem> FSearchProblems;
  TSearchSummary FLastSearch;
  bool FClosing = false;  // the window is closing: no search starts
  TSpeedMemory FSpeeds;
  // The search running (its loop on the stack), and the device changes that wait for its end:
  // true for an arrival.
  TModuleSearch* FSearch = nullptr;
  std::vector<std::pair<bool, TKVXChannel>> FDeferred;
  // Lets the end of an arrival's test, posted from its worker, find the window if it still exists.
  std::shared_ptr<TfMain*> FSelf = std::make_shared<TfMain*>(this);
  std::vector<std::unique_ptr<TModuleSearch>> FArrivals;  // last: their workers end first
};
