#include "tools/kvxctl/uCtlSession.h"

#include <algorithm>
#include <bit>
#include <charconv>

#include "support/uCodePage.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

const char* const kCommunicationError = "communication with the KVX module failed";

double RealOf(const std::string& Text) {
  double value = 0;
  std::from_chars(Text.data(), Text.data() + Text.size(), value);
  return value;
}

int WholeOf(const std::string& Text) {
  int value = 0;
  std::from_chars(Text.data(), Text.data() + Text.size(), value);
  return value;
}

}  // namespace

TCtlSession::TCtlSession(const TCtlOptions& Options) : FOptions(Options) {
  MakeForm();
}

TCtlSession::~TCtlSession() {
  FForm.reset();
}

void TCtlSession::MakeForm() {
  FForm = std::make_unique<TfMain>(FManager, FServices, FOptions.ControllerArgs());
  FForm->FormShow();
}

bool TCtlSession::ErrorPageShown() const {
  return FForm->Element("pError").GetBool("Visible");
}

void TCtlSession::Connect(const std::string& Name) {
  FChannelName = Name;
  TKVXChannel channel;
  {
    TChannelListLock lock(FManager);
    FManager.RebuildChannels();
    FManager.FindChannel(Utf8ToCp1250(Name), channel);
  }
  if (!channel) throw TCtlError(ceNotFound, "no channel " + Name);
  // One module check and one download; a second connect forgives a reply that came too late
  // on a busy machine.
  bool answered = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool connected = FForm->Connect(channel);
    if (IsDeviceGone(*channel)) RaiseGone(Name);
    CheckConnected();
    if (connected) return;
    answered = answered || FForm->LastTestAnswered();
  }
  if (answered) throw TCtlError(ceCommunication, kCommunicationError);
  if (channel->GetOpenFailure() == TOpenFailure::InUse)
    throw TCtlError(ceCommunication, Name + " is in use by another program");
  if (channel->GetOpenFailure() == TOpenFailure::Denied)
    throw TCtlError(ceCommunication, Name + ": permission denied (" + kPermissionFix + ")");
  throw TCtlError(ceNotFound, "no KVX module answers on " + Name);
}

void TCtlSession::CheckConnected() {
  FServices.ProcessMessages();
  if (!FForm->ChannelGone().empty()) RaiseGone(Cp1250ToUtf8(FForm->ChannelGone()));
  const TKVXChannel& channel = FForm->CurrentChannel();
  if (channel && IsDeviceGone(*channel)) RaiseGone(FChannelName);
}

void TCtlSession::RaiseGone(const std::string& Port) const {
  throw TCtlError(ceCommunication, Port + " was disconnected");
}

void TCtlSession::CheckEdits(const TFieldList& Edits) const {
  const TKVXrec& rec = FForm->ReadCopy();
  for (const TFieldValue& edit : Edits) {
    const std::string name = FieldName(edit.Id);
    const TFieldKind kind = edit.Id.Kind;
    if ((kind == TFieldKind::Address || kind == TFieldKind::Speed) && rec.ModuleType != mtRS)
      throw TCtlError(ceUsage, name + ": only the RS model's address and speed can be changed");
    if (!IsChannelField(kind)) continue;
    const int n = edit.Id.Channel;
    if (rec.Setup[n].Channel != n)
      throw TCtlError(ceUsage, Format("%s: the module has no channel %d", name.c_str(), n));
    if (kind == TFieldKind::Gain && !rec.Setup[n].GainPresent)
      throw TCtlError(ceUsage, name + ": this channel has no gain setting");
    if (kind == TFieldKind::Loop && rec.Setup[n].Loop == 0 && !FOptions.Itp)
      throw TCtlError(ceUsage, name + ": this channel has no 4-20 mA input (see --itp)");
  }
}

void TCtlSession::Enter(const TFieldValue& Edit) {
  TfMain& form = *FForm;
  const std::string& value = Edit.Value;
  auto edit = [&form](const char* Element, const char* Property, const TVariant& Value) {
    form.Element(Element).Edit(Property, Value);
  };
  if (IsChannelField(Edit.Id.Kind)) form.ShowChannelPage(Edit.Id.Channel);
  switch (Edit.Id.Kind) {
    case TFieldKind::Address:
      return edit("cbADR", "ItemIndex", WholeOf(value));
    case TFieldKind::Speed: {
      const auto code = std::find(kSpeedCodes.begin(), kSpeedCodes.end(), WholeOf(value));
      return edit("cbCommunicationSpeed", "ItemIndex",
                  static_cast<int>(code - kSpeedCodes.begin()));
    }
    case TFieldKind::UserData:
      return edit("mUserData", "Text", value);
    case TFieldKind::Name:
      return edit("eChannelName", "Text", value);
    case TFieldKind::Unit:
      return edit("eChannelUnit", "Text", value);
    case TFieldKind::Input:
      throw TCtlError(ceUsage, FieldName(Edit.Id) + " cannot be set");
    case TFieldKind::Min:
      return edit("deValueRangeMin", "Value", RealOf(value));
    case TFieldKind::Max:
      return edit("deValueRangeMax", "Value", RealOf(value));
    case TFieldKind::Decimals:
      return edit("ieDecimals", "Value", WholeOf(value));
    case TFieldKind::Loop:
      return edit("cb4_20mA", "Checked", value == "on");
    case TFieldKind::Gain:
      return edit("cbbChannelGain", "ItemIndex",
                  std::countr_zero(static_cast<unsigned>(WholeOf(value))));
    case TFieldKind::Watch:
      return edit("CheckBox2", "Checked", value == "on");
    case TFieldKind::Upper:
      return edit("deMaxValue", "Value", RealOf(value));
    case TFieldKind::Lower:
      return edit("deMinValue", "Value", RealOf(value));
    case TFieldKind::Hyst:
      return edit("deHystValue", "Value", RealOf(value));
  }
}

void TCtlSession::WriteAndVerify(const TFieldList& Edits) {
  CheckEdits(Edits);
  for (const TFieldValue& edit : Edits) Enter(edit);
  if (const std::string failed = SaveAndVerify(); !failed.empty())
    throw TCtlError(ceVerify, "verification failed: " + failed);
}

std::string TCtlSession::SaveAndVerify() {
  TViewElement& save = FForm->Element("sSaveChanges1");
  if (!save.GetBool("Visible")) return {};  // the module holds all of it already
  const TFieldList expected = ReadFields(FForm->EditedCopy());
  // The save follows a new speed to read the module back.
  try {
    save.Click();
  } catch (const std::exception&) {
    throw TCtlError(ceCommunication, kCommunicationError);
  }
  if (ErrorPageShown()) throw TCtlError(ceCommunication, kCommunicationError);
  const TFieldList held = ReadFields(FForm->ReadCopy());
  std::string failed;
  for (const TFieldValue& want : expected) {
    const TFieldValue* got = FindField(held, want.Id);
    if (got && SameFieldValue(want.Id, want.Value, got->Value)) continue;
    failed += (failed.empty() ? "" : ", ") + FieldName(want.Id) + " (written '" + want.Value +
              "', module holds '" + (got ? got->Value : std::string("nothing")) + "')";
  }
  return failed;
}
