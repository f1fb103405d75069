#include "app/uMainServices.h"

#include "serial/AfSafeSync.h"
#include "support/uMessages.h"

void TPlainMainServices::ProcessMessages() {
  AfMainThreadDispatcher()->ProcessPending();
}

void TPlainMainServices::ShowError(const std::string& Message) {
  ShowMessage(Message);
}
