#pragma once
// Shared by the connection string targets: any text applied to a fresh channel either
// raises Exception or is taken; the channel stays closed, and the settings it then reports
// read back unchanged when applied again. Texts that ask to open the channel ("active") are
// skipped, so a run never touches a real port.
#include <string>

#include "comm/uci_ISerialPortInterface.h"
#include "fuzz/FuzzCheck.h"
#include "support/uErrors.h"

template <class T, class Make>
void FuzzConnectionString(const std::string& Text, Make make) {
  std::string ignored;
  if (FindConnectionValue(Text, "active", ignored)) return;
  TIntfPtr<T> channel = make();
  try {
    channel->SetConnectionString(Text);
  } catch (const Exception&) {
  }
  FuzzCheck(!channel->GetActive(), "a connection string opened the channel");
  const std::string settings = channel->GetConnectionString();
  TIntfPtr<T> again = make();
  again->SetConnectionString(settings);
  FuzzCheck(again->GetConnectionString() == settings, "settings do not read back unchanged");
}
