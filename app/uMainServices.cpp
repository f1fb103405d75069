#include "app/uMainServices.h"

#include "serial/AfSafeSync.h"
#include "support/uMessages.h"

void TPlainMainServices::SetBusyCursor(bool Busy) {
  if (Busy != FBusy) ++FBusyChanges;
  FBusy = Busy;
}

void TPlainMainServices::ProcessMessages() {
  AfMainThreadDispatcher()->ProcessPending();
}

void TPlainMainServices::Repaint(TViewElement&) {
  ++FRepaints;
}

void TPlainMainServices::ShowError(const std::string& Message) {
  FErrors.push_back(Message);
  ShowMessage(Message);
}
