#include "tools/kvxctl/uCtlSession.h"

#include <algorithm>
#include <bit>

#include "comm/uRefusedPort.h"
#include "protocol/uKVXxxCommands.h"
#include "protocol/uModuleAddress.h"
#include "serial/AfPortHolder.h"
#include "support/uCodePage.h"
#include "support/uMessages.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

const char* const kCommunicationError = "communication with the KVX module failed";

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

void TCtlSession::Connect(const std::string& Operand) {
  const std::optional<TPortAddress> target = ParsePortAddress(Operand);
  if (!target) throw TCtlError(ceUsage, "'" + Operand + "' is not CHANNEL or PORT@ADDRESS");
  const std::string& port = target->Port;
  const std::uint8_t address = target->Address.value_or(kUniversalAddress);
  const TKVXChannel channel = FindChannel(port);
  // One module check and one download; a second connect forgives a reply that came too late
  // on a busy machine.
  bool answered = false;
  bool collided = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool connected = FForm->Connect(channel, address);
    if (IsDeviceGone(*channel)) {
      RaiseProblem(channel->GetProblem());
      RaiseGone(port);
    }
    CheckConnected();
    if (connected) return;
    answered = answered || FForm->LastTestAnswered();
    collided = collided || FForm->LastTestCollided();
    // Several modules answer the universal address at once: retrying cannot help.
    if (collided && !answered) break;
    if (!answered)
      RaiseProblem(channel->GetProblem());  // a named fault does not go away on a second try
  }
  if (answered) throw TCtlError(ceCommunication, kCommunicationError);
  if (collided)
    throw TCtlError(ceNotFound, "several modules answer at once on " + port + ": name one as " +
                                    port + "@ADDRESS; 'kvxctl search --addresses 0-253' lists " +
                                    "their addresses");
  RaiseOpenFailure(*channel, port);
  throw TCtlError(ceNotFound, "no KVX module answers on " + Operand);
}

TKVXChannel TCtlSession::FindChannel(const std::string& Port) {
  FChannelName = Port;
  TKVXChannel channel;
  {
    TChannelListLock lock(FManager);
    FManager.RebuildChannels();
    FManager.FindChannel(Utf8ToCp1250(Port), channel);
  }
  if (!channel) throw TCtlError(ceNotFound, "no channel " + Port);
  return channel;
}

bool TCtlSession::ConnectArrived(const std::string& Port) {
  const TKVXChannel& current = FForm->CurrentChannel();
  const TKVXChannel channel = current && FChannelName == Port ? current : FindChannel(Port);
  if (FForm->Connect(channel)) return true;
  CheckConnected();
  if (FForm->LastTestCollided())
    throw TCtlError(ceCommunication, Port +
                                         ": several modules answer at once; bring one module at "
                                         "a time (nothing was written to them)");
  if (!FForm->LastTestAnswered()) {
    RaiseOpenFailure(*channel, Port);
    RaiseProblem(channel->GetProblem());
  }
  return false;
}

bool TCtlSession::Answers() {
  CheckConnected();
  return CheckDevice(FForm->CurrentChannel(), FForm->CurrentAddress());
}

void TCtlSession::CheckConnected() {
  FServices.ProcessMessages();
  if (!FForm->ChannelGone().empty()) {
    RaiseProblem(FForm->ChannelProblem());
    RaiseGone(Cp1250ToUtf8(FForm->ChannelGone()));
  }
  const TKVXChannel& channel = FForm->CurrentChannel();
  if (channel && IsDeviceGone(*channel)) {
    RaiseProblem(channel->GetProblem());
    RaiseGone(FChannelName);
  }
}

void TCtlSession::RaiseOpenFailure(ICommunicationInterface& Channel,
                                   const std::string& Port) const {
  if (Channel.GetOpenFailure() == TOpenFailure::InUse)
    throw TCtlError(ceCommunication, PortInUseText(Port, Channel.GetDeviceNode()));
  if (Channel.GetOpenFailure() == TOpenFailure::Denied)
    throw TCtlError(ceCommunication, Cp1250ToUtf8(RefusedPortText(Channel)) +
                                         ": permission denied (" + kPermissionFix + ")");
}

void TCtlSession::RaiseProblem(const TChannelProblem& Problem) const {
  if (!Problem.Empty()) throw TCtlError(ceCommunication, Cp1250ToUtf8(ProblemText(Problem)));
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
    CheckSettable(edit);  // a backup may hold what its module held but nobody can set
    if (!IsChannelField(kind)) continue;
    const int channel = edit.Id.Channel;
    if (rec.Setup[channel].Channel != channel)
      throw TCtlError(ceUsage, Format("%s: the module has no channel %d", name.c_str(), channel));
    if (kind == TFieldKind::Gain && !rec.Setup[channel].GainPresent)
      throw TCtlError(ceUsage, name + ": this channel has no gain setting");
    if (kind == TFieldKind::Loop && rec.Setup[channel].Loop == 0 && !FOptions.Itp)
      throw TCtlError(ceUsage, name + ": this channel has no 4-20 mA input (see --itp)");
  }
}

void TCtlSession::Enter(const TFieldValue& Edit) {
  const TFieldKind kind = Edit.Id.Kind;
  if (IsReadOnlyField(kind)) throw TCtlError(ceUsage, FieldName(Edit.Id) + " cannot be set");
  if (Edit.Bits)
    return FForm->EditCopy([&Edit](TKVXrec& Edited) {
      StoredReal(Edited, Edit.Id) = std::bit_cast<float>(*Edit.Bits);
    });
  if (IsChannelField(kind)) FForm->ShowChannelPage(Edit.Id.Channel);
  TViewElement& element = FForm->Element(FieldElement(kind));
  // Values come here checked and in their canonical text.
  const std::string& value = Edit.Value;
  const auto whole = [&value] { return static_cast<int>(ParseDecimalInteger(value).value_or(0)); };
  switch (kind) {
    case TFieldKind::Address:
      return element.Edit("ItemIndex", whole());
    case TFieldKind::Speed: {
      const auto code = std::find(kSpeedCodes.begin(), kSpeedCodes.end(), whole());
      return element.Edit("ItemIndex", static_cast<int>(code - kSpeedCodes.begin()));
    }
    case TFieldKind::Gain:
      return element.Edit("ItemIndex", std::countr_zero(static_cast<unsigned>(whole())));
    case TFieldKind::Decimals:
      return element.Edit("Value", whole());
    case TFieldKind::Loop:
    case TFieldKind::Watch:
      return element.Edit("Checked", value == "on");
    default:
      if (IsRealField(kind)) return element.Edit("Value", ParseDecimalReal(value).value_or(0));
      return element.Edit("Text", value);
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
  const TFieldList written = ReadFields(FForm->EditedCopy());
  const bool sharedSpeed = FForm->CurrentAddress() != kUniversalAddress &&
                           SpeedChanged(FForm->ReadCopy(), FForm->EditedCopy());
  {
    // Each outcome of the save is told below in kvxctl's own words, not in the window's.
    const TScopedMessageHandler quiet([](const std::string&) {});
    // The save follows a new speed to read the module back.
    try {
      save.Click();
    } catch (const std::exception&) {
      throw TCtlError(ceCommunication, kCommunicationError);
    }
  }
  if (const std::optional<std::uint8_t> taken = FForm->AddressTaken())
    throw TCtlError(ceUsage, Format("address: another module answers at %u on %s; nothing was "
                                    "written",
                                    unsigned{*taken}, FChannelName.c_str()));
  if (ErrorPageShown()) throw TCtlError(ceCommunication, kCommunicationError);
  if (sharedSpeed) ShowMessage("the other modules on " + FChannelName + " keep their speed");
  // The window's own check after a save, named in the command line's words.
  const TFieldList held = ReadFields(FForm->ReadCopy());
  const auto valueIn = [](const TFieldList& Fields, const TFieldId& Id) {
    const TFieldValue* field = FindField(Fields, Id);
    return field ? field->Value : std::string("nothing");
  };
  std::string failed;
  for (const TPageField& field : FForm->FieldsNotTaken()) {
    const TFieldId id = FieldOfElement(field.Element, field.Channel);
    failed += (failed.empty() ? "" : ", ") + FieldName(id) + " (written '" + valueIn(written, id) +
              "', module holds '" + valueIn(held, id) + "')";
  }
  return failed;
}
