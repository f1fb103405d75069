// The configuration pages: filling them from the module's record, the operator's edits, and
// saving with the read-back that names what the module did not take.
#include <algorithm>

#include "app/uMain.h"
#include "app/uMainLayout.h"
#include "app/uWindowColors.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

// A real typed equal to the module's keeps the module's bits, so retyping what a field shows
// (or "-0" for 0) is no change; any other zero is sent as 0.
float Entered(float Typed, float Held) {
  if (Typed == Held) return Held;
  return Typed == 0 ? 0.0f : Typed;
}

}  // namespace

void TfMain::FillCommunicationPage() {
  const TKVXTirmel& ident = FRead.Ident;
  Element("cbCommunicationSpeed").Set("ItemIndex", ident.SpeedCode);
  Element("cbADR").Set("ItemIndex", ident.Address);
  Element("eNameAndVersion").Set("Text", " " + Cp1250ToUtf8(ident.TypeText));
  Element("mUserData").Set("Text", Cp1250ToUtf8(ident.UserData));
  // Filling the user data field takes the read text back: a pending user data change is
  // dropped, pending speed and address changes stay.
  FEdited.Ident.UserData = ident.UserData;
  Element("ePidPis").Set("Text", " " + Cp1250ToUtf8(ident.Production.Text));
  const bool editable = FRead.ModuleType == mtRS;
  for (const char* name : {"cbCommunicationSpeed", "cbADR"}) {
    Element(name).Set("Enabled", editable);
    Element(name).Set("Color", editable ? clWhite : kPageColor);
  }
  UpdateSaveButton();
}

std::string TfMain::Text(std::string_view Name) const {
  return Element(Name).GetText("Caption");
}

void TfMain::ApplyFieldTexts() {
  for (const TNumberField& field : kNumberFields) {
    const std::string label = Trim(Text(field.Label));
    Element(field.Element).Set("ShowName", label.empty() ? Text("txValueName") : label);
    Element(field.Element).Set("RangeMessage", Text("txRangeMessage"));
  }
}

void TfMain::ShowChannelHeading(int Channel) {
  Element("lChannel").Set("Caption", FillIn(Text("txChannelHeading"), {Format("%d", Channel)}));
  // The input range is the module's: blank when no module's record is held.
  const bool known = Channel >= 1 && Channel <= kChannelCount;
  const std::string range = known ? Cp1250ToUtf8(Trim(FEdited.Setup[Channel].InputRange)) : "";
  Element("Label4").Set("Caption", FillIn(Text("txInputRange"), {range}));
}

bool TfMain::ShowChannelPage(int Channel) {
  Element("pChannel").Set("Tag", Channel);
  ShowChannelHeading(Channel);
  if (Channel < 1 || Channel > kChannelCount || FEdited.Setup[Channel].Channel != Channel)
    return false;
  FillChannelPage(FEdited, Channel);
  return true;
}

void TfMain::FillChannelPage(const TKVXrec& Rec, int Channel) {
  const TChannelSetup& setup = Rec.Setup[Channel];
  const TChannelWatch& watch = Rec.Watch[Channel];
  Element("eChannelUnit").Set("Text", Cp1250ToUtf8(Trim(setup.Unit)));
  Element("deMaxValue").Set("Value", ShortestDecimal(watch.UpperLimit));
  Element("deMinValue").Set("Value", ShortestDecimal(watch.LowerLimit));
  Element("deHystValue").Set("Value", ShortestDecimal(watch.Hysteresis));
  Element("CheckBox2").Set("Checked", (watch.Flags & kWatchOnFlag) != 0);
  const TRangeEnds range = ShownRange(setup.Offset, setup.Scale, kRangeSpan);
  Element("deValueRangeMin").Set("Value", range.Min);
  Element("deValueRangeMax").Set("Value", range.Max);
  Element("ieDecimals").Set("Value", setup.Decimals);
  Element("eChannelName").Set("Text", Cp1250ToUtf8(Trim(setup.Name)));
  Element("cb4_20mA").Set("Checked", setup.Loop == 1);

  TViewElement& loopRow = Element("p4_20mA");
  const bool showLoop = setup.Loop != 0 || FShow420Always;
  if (showLoop != loopRow.GetBool("Visible")) {
    loopRow.Set("Visible", showLoop);
    const int shift = (loopRow.GetInt("Height") + 1) * (showLoop ? 1 : -1);
    for (const char* name : kRowsBelow420) {
      TViewElement& row = Element(name);
      row.Set("Top", row.GetInt("Top") + shift);
    }
  }
  // A channel without gain offers none; the row stands alone in its column, so nothing moves.
  Element("pChannelGain").Set("Visible", setup.GainPresent);
  if (setup.GainPresent) Element("cbbChannelGain").Set("ItemIndex", setup.GainIndex);
}

void TfMain::UpdateSaveButton() {
  bool changed = FEdited.Ident.UserData != FRead.Ident.UserData ||
                 FEdited.Ident.SpeedCode != FRead.Ident.SpeedCode ||
                 FEdited.Ident.Address != FRead.Ident.Address;
  for (int channel = 1; channel <= kChannelCount; ++channel)
    changed = changed || FEdited.Setup[channel] != FRead.Setup[channel] ||
              FEdited.Watch[channel] != FRead.Watch[channel];
  Element("sSaveChanges1").Set("Visible", changed);
}

void TfMain::EditCopy(const std::function<void(TKVXrec& Edited)>& Change) {
  Change(FEdited);
  UpdateSaveButton();
}

void TfMain::SaveChanges() {
  if (!FServices.AcceptPendingEntry()) return;
  FFieldsNotTaken.clear();
  FAddressTaken.reset();
  if (!SharedLineAllowsSave()) {
    // Nothing was written: every edit is still to be saved.
    FFieldsNotTaken = SavedFieldsNotHeld(FEdited, FRead);
    return;
  }
  const std::uint8_t readAddress = FRead.Ident.Address;
  const TKVXrec saved = FEdited;
  bool readBack = false;
  {
    const TBusyLine busy(*this, "txSaving");
    readBack = UploadAndReadBack();
  }
  if (!readBack) {
    ShowPage(Element("pError"));
    Element("sSaveChanges1").Set("Visible", false);
    return;
  }
  // The edited copy starts again from what the module holds: a value it refused is shown as
  // it holds it and is not sent again unless typed again.
  Refresh(false);
  if (FAddress != kUniversalAddress && FRead.Ident.Address != readAddress)
    MoveFoundRow(readAddress, FRead);
  FFieldsNotTaken = SavedFieldsNotHeld(saved, FRead);
  if (Element("pChannel").GetBool("Visible")) FillChannelPage(FEdited, PageChannel());
  if (!FFieldsNotTaken.empty()) ReportFieldsNotTaken(FFieldsNotTaken);
}

bool TfMain::SharedLineAllowsSave() {
  if (FAddress == kUniversalAddress) return true;
  const std::uint8_t address = FEdited.Ident.Address;
  // Asked twice: a reply lost on the line would put two modules on one address.
  if (address != FRead.Ident.Address &&
      (CheckDevice(FCurrent, address) || CheckDevice(FCurrent, address))) {
    FAddressTaken = address;
    ShowMessage(FillIn(Text("lAddressTakenText"), {std::to_string(address)}));
    return false;
  }
  if (SpeedChanged(FRead, FEdited)) ShowMessage(Text("lSharedSpeedText"));
  return true;
}

bool TfMain::UploadAndReadBack() {
  const bool newSpeed = SpeedChanged(FRead, FEdited);
  const std::uint8_t speedCode = FEdited.Ident.SpeedCode;
  const std::uint8_t oldAddress = FAddress;
  UploadChanges(FCurrent, FRead, FEdited, FAddress);
  // A module reached at its own address answers at its new one from now on.
  if (FAddress != kUniversalAddress) FAddress = FEdited.Ident.Address;
  if (newSpeed && FCurrent) {
    const std::string before = FCurrent->GetConnectionString();
    FCurrent->SetConnectionString(Format("baudrate=%u", kSpeedCodes[speedCode]));
    if (DownloadReadCopy()) return true;
    FCurrent->SetConnectionString(before);
  }
  if (DownloadReadCopy()) return true;
  if (FAddress == oldAddress) return false;
  // A module that did not take its new address still answers at its old one.
  FAddress = oldAddress;
  return DownloadReadCopy();
}

void TfMain::ReportFieldsNotTaken(const std::vector<TPageField>& Fields) {
  std::string text = Element("lChangesNotTaken").GetText("Caption");
  for (const TPageField& field : Fields) {
    text += "\n";
    if (field.Channel != 0)
      text += Element(kChannelButtons[field.Channel - 1]).GetText("Caption") + ": ";
    text += Element(field.Label).GetText("Caption");
  }
  ShowMessage(text);
}

int TfMain::PageChannel() const {
  return std::clamp(Element("pChannel").GetInt("Tag"), 1, kChannelCount);
}

void TfMain::SpeedChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Ident.SpeedCode = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::AddressChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Ident.Address = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::UserDataChange(TViewElement& Sender) {
  // The module keeps 16 characters; longer text would be cut there anyway.
  FEdited.Ident.UserData = Utf8ToCp1250(Sender.GetText("Text")).substr(0, 16);
  UpdateSaveButton();
}

void TfMain::NameChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Name = PadRight(Trim(Utf8ToCp1250(Sender.GetText("Text"))), 21);
  UpdateSaveButton();
}

void TfMain::UnitChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Unit = PadRight(Trim(Utf8ToCp1250(Sender.GetText("Text"))), 5);
  UpdateSaveButton();
}

void TfMain::RangeChange(TViewElement&) {
  const int channel = PageChannel();
  float offset = 0, scale = 0;
  RangeToScale(Element("deValueRangeMin").GetReal("Value"),
               Element("deValueRangeMax").GetReal("Value"), kRangeSpan, offset, scale);
  TChannelSetup& setup = FEdited.Setup[channel];
  setup.Offset = Entered(offset, FRead.Setup[channel].Offset);
  setup.Scale = Entered(scale, FRead.Setup[channel].Scale);
  UpdateSaveButton();
}

void TfMain::DecimalsChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Decimals = static_cast<std::uint8_t>(
      std::clamp(Sender.GetInt("Value"), static_cast<int>(kDecimalsBounds.Min),
                 static_cast<int>(kDecimalsBounds.Max)));
  UpdateSaveButton();
}

void TfMain::LoopChange(TViewElement& Sender) {
  FEdited.Setup[PageChannel()].Loop = Sender.GetBool("Checked") ? 1 : 2;
  UpdateSaveButton();
}

void TfMain::GainChange(TViewElement& Sender) {
  const int index = Sender.GetInt("ItemIndex");
  if (index >= 0) FEdited.Setup[PageChannel()].GainIndex = static_cast<std::uint8_t>(index);
  UpdateSaveButton();
}

void TfMain::WatchingChange(TViewElement& Sender) {
  std::uint8_t& flags = FEdited.Watch[PageChannel()].Flags;
  flags = Sender.GetBool("Checked") ? (flags | kWatchOnFlag) : (flags & ~kWatchOnFlag);
  UpdateSaveButton();
}

void TfMain::LimitChange(TViewElement& Sender) {
  const int channel = PageChannel();
  float TChannelWatch::*limit = &TChannelWatch::Hysteresis;
  if (Sender.Name() == "deMaxValue")
    limit = &TChannelWatch::UpperLimit;
  else if (Sender.Name() == "deMinValue")
    limit = &TChannelWatch::LowerLimit;
  FEdited.Watch[channel].*limit =
      Entered(static_cast<float>(Sender.GetReal("Value")), FRead.Watch[channel].*limit);
  UpdateSaveButton();
}
