#pragma once
// The window's controller without a window: the interface manager, plain services and the
// main window's controller, driven the way the operator drives the window (element values
// set and their change or click events fired).
#include <memory>
#include <string>

#include "app/uMain.h"
#include "app/uMainServices.h"
#include "tools/kvxctl/uCtlFields.h"
#include "tools/kvxctl/uCtlOptions.h"
#include "usb/uci_FTDImanager.h"

class TCtlSession {
 public:
  explicit TCtlSession(const TCtlOptions& Options);
  ~TCtlSession();
  TCtlSession(const TCtlSession&) = delete;
  TCtlSession& operator=(const TCtlSession&) = delete;

  TFTDIManager& Manager() { return FManager; }
  TfMain& Form() { return *FForm; }

  // Finds the channel by port name and connects to its module, at the address after an '@'
  // (PORT@ADDRESS) or else the universal one; raises TCtlError with ceNotFound (no such
  // channel, no module on it) or ceCommunication.
  void Connect(const std::string& Operand);
  // A bench port where modules come and go: one check and download of whichever module answers
  // on Port. True when one is connected, false when none answers (or it could not be read);
  // raises TCtlError(ceCommunication) when several answer at once.
  bool ConnectArrived(const std::string& Port);
  // Whether the connected module still answers its check, where it is reached.
  bool Answers();
  const TKVXrec& Module() const { return FForm->ReadCopy(); }
  // Handles pending port events; raises TCtlError(ceCommunication) naming the port when the
  // connected module's device went away.
  void CheckConnected();

  // Checks every edit against the connected module before any is made; raises
  // TCtlError(ceUsage) for one the window would not offer.
  void CheckEdits(const TFieldList& Edits) const;
  // Enters the edits as the operator would, saves and reads back; raises
  // TCtlError(ceCommunication) when the module stops answering and TCtlError(ceVerify)
  // naming the fields the module does not hold as written.
  void WriteAndVerify(const TFieldList& Edits);

 private:
  void MakeForm();
  // The channel of Port; raises TCtlError(ceNotFound) when there is none.
  TKVXChannel FindChannel(const std::string& Port);
  void Enter(const TFieldValue& Edit);
  // Saves what the pages hold; the fields the module then does not hold as saved, named.
  std::string SaveAndVerify();
  bool ErrorPageShown() const;
  [[noreturn]] void RaiseGone(const std::string& Port) const;
  // Raises why Channel could not be opened (in use, permission), if it could not.
  void RaiseOpenFailure(ICommunicationInterface& Channel, const std::string& Port) const;
  // Raises the fault a channel named, if it named one.
  void RaiseProblem(const TChannelProblem& Problem) const;

  const TCtlOptions& FOptions;
  TFTDIManager FManager;
  TPlainMainServices FServices;
  std::unique_ptr<TfMain> FForm;
  std::string FChannelName;
};
