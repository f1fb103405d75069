#include "tools/kvxctl/uCtlCommands.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/uMeasurementCsv.h"
#include "app/uModuleSearch.h"
#include "protocol/uModuleAddress.h"
#include "support/uCodePage.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlAudit.h"
#include "tools/kvxctl/uCtlCommission.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"
#include "tools/kvxctl/uCtlGitHistory.h"
#include "tools/kvxctl/uCtlRecordJson.h"
#include "tools/kvxctl/uCtlServe.h"
#include "tools/kvxctl/uCtlSession.h"
#include "usb/uci_FTDIcore.h"

namespace {

using nlohmann::ordered_json;

void PrintFields(const TFieldList& Fields, std::ostream& Out) {
  for (const TFieldValue& field : Fields)
    Out << FieldName(field.Id) << ": " << ShownValue(field) << "\n";
}

std::vector<std::string> Split(const std::string& Row, char Separator) {
  std::vector<std::string> parts;
  std::istringstream in(Row);
  for (std::string part; std::getline(in, part, Separator);) parts.push_back(part);
  return parts;
}

int List(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  if (!FTDI().Loaded())
    Err << "kvxctl: USB adapters are reached only as ttyUSB ports without the D2XX library ("
        << FTDI().LoaderTexts().front() << ")\n";
  TCtlSession session(Options);
  TFTDIManager& manager = session.Manager();
  TChannelListLock lock(manager);
  manager.RebuildChannels();
  ordered_json json = ordered_json::array();
  TKVXChannel channel;
  for (manager.FirstChannel(channel); channel; manager.NextChannel(channel)) {
    const std::string port = Cp1250ToUtf8(channel->GetPortName());
    const std::string description = Cp1250ToUtf8(channel->GetDescription());
    if (Options.Json)
      json.push_back({{"port", port}, {"description", description}});
    else
      Out << port << "\t" << description << "\n";
  }
  if (Options.Json) Out << json.dump(2) << "\n";
  return ceDone;
}

void WarnCollisions(const std::vector<std::string>& Ports, std::ostream& Err) {
  for (const std::string& port : Ports)
    Err << Cp1250ToUtf8(port)
        << ": several modules seem to answer at once; scan the line with --addresses 0-253\n";
}

// "12 ports", "1 port".
std::string PortCount(std::size_t Count) {
  return std::to_string(Count) + (Count == 1 ? " port" : " ports");
}

// A search's progress on the error output while it runs, when that is a terminal: the line
// and address asked and the share done, rewritten in place and cleared at the end.
class TProgressLine {
 public:
  explicit TProgressLine(std::ostream& Err)
      : FErr(Err), FOn(Err.rdbuf() == std::cerr.rdbuf() && isatty(STDERR_FILENO) == 1) {}
  ~TProgressLine() { Clear(); }
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  bool On() const { return FOn; }
  void Show(const std::string& Asking, double Done) {
    if (!FOn) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    FErr << "\r\033[Kkvxctl: searching " << Asking << " (" << static_cast<int>(Done * 100)
         << " %)" << std::flush;
    FShown = true;
  }
  void Clear() {
    if (!FShown) return;
    FErr << "\r\033[K" << std::flush;
    FShown = false;
  }

 private:
  std::ostream& FErr;
  bool FOn;
  bool FShown = false;
  std::chrono::steady_clock::time_point FLast{};
};

// The cause each channel without a module named, one a line.
void PrintProblems(const std::vector<TChannelProblem>& Problems, std::ostream& Err) {
  for (const TChannelProblem& problem : Problems)
    Err << "kvxctl: " << Cp1250ToUtf8(ProblemText(problem)) << "\n";
}

int Search(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  TCtlSession session(Options);
  TfMain& form = session.Form();
  if (!Options.Addresses.empty()) {
    form.Element("cbSearchAddresses").Set("Checked", true);
    form.Element("eAddressRange").Set("Text", Options.Addresses);
  }
  TProgressLine progress(Err);
  int listener = -1;
  if (progress.On())
    listener = form.View().AddListener([&](TViewElement& Changed, const std::string& Property) {
      if (Changed.Name() != "ProgressBar1" && Changed.Name() != "lConnectionDesc") return;
      if (Property != "Position" && Property != "Caption") return;
      TViewElement& bar = form.Element("ProgressBar1");
      const int max = bar.GetInt("Max");
      progress.Show(form.Element("lConnectionDesc").GetText("Caption"),
                    max > 0 ? static_cast<double>(bar.GetInt("Position")) / max : 0);
    });
  form.Element("sSearch").Click();
  if (listener >= 0) form.View().RemoveListener(listener);
  progress.Clear();
  const std::vector<std::string>& rows = form.Element("lbFoundedModules").Items();
  ordered_json json = ordered_json::array();
  for (const std::string& row : rows) {
    const std::vector<std::string> parts = Split(row, '|');
    if (Options.Json && parts.size() == 3)
      json.push_back({{"model", parts[0]}, {"interface", parts[1]}, {"serial", parts[2]}});
    else if (!Options.Json)
      Out << row << "\n";
  }
  if (Options.Json) Out << json.dump(2) << "\n";
  WarnCollisions(form.Collisions(), Err);
  const TfMain::TSearchSummary& summary = form.LastSearch();
  if (summary.Cancelled && progress.On())
    Err << "kvxctl: search cancelled: " << summary.Finished << " of " << PortCount(summary.Channels)
        << " searched (" << static_cast<int>(summary.Done * 100) << " %)\n";
  if (!rows.empty()) return ceDone;
  PrintProblems(form.SearchProblems(), Err);
  const std::string nothing = "no module found on " + PortCount(summary.Channels);
  if (!form.PermissionRefused().empty())
    throw TCtlError(ceNotFound, nothing + "; " + Cp1250ToUtf8(form.PermissionRefused()) +
                                    " may not be opened: " + kPermissionFix);
  throw TCtlError(ceNotFound, nothing);
}

// The backup of the connected module, with the address it was reached at when it was its own.
std::string ModuleBackup(TCtlSession& Session) {
  TBackup backup = BackupOf(Session.Module());
  if (const std::uint8_t address = Session.Form().CurrentAddress(); address != kUniversalAddress)
    backup.Address = address;
  return WriteBackup(backup);
}

void PrintRecord(TCtlSession& Session, bool Json, std::ostream& Out) {
  const TKVXrec& Rec = Session.Module();
  if (Json) {
    Out << ModuleBackup(Session);
    return;
  }
  Out << "model: " << ModelName(Rec.ModuleType) << "\n"
      << "type: " << Cp1250ToUtf8(Rec.Ident.TypeText) << "\n"
      << "production: " << Cp1250ToUtf8(Rec.Ident.Production.Text) << "\n"
      << "product: " << Rec.Ident.Production.ProductNumber << "\n"
      << "serial: " << Format("%.4d", Rec.Ident.Production.SerialNumber) << "\n";
  PrintFields(ReadFields(Rec), Out);
}

int Show(const TCtlOptions& Options, std::ostream& Out) {
  TCtlSession session(Options);
  session.Connect(Options.Operands[0]);
  PrintRecord(session, Options.Json, Out);
  return ceDone;
}

int Watch(const TCtlOptions& Options, std::ostream& Out) {
  TCtlSession session(Options);
  session.Connect(Options.Operands[0]);
  TfMain& form = session.Form();
  using Clock = std::chrono::steady_clock;
  auto next = Clock::now();
  for (int reading = 0; !Options.Count || reading < *Options.Count; ++reading) {
    while (Clock::now() < next) {
      if (CtlInterrupted()) return ceDone;
      session.CheckConnected();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (CtlInterrupted()) return ceDone;
    next += std::chrono::seconds(1);
    form.Element("Timer1").Fire("OnTimer");
    session.CheckConnected();
    if (Options.Csv) {
      // The same lines as a recording of the window's trend.
      const TTrend& trend = form.Trend();
      if (reading == 0) Out << CsvHeader(trend.Channels());
      if (!trend.Readings().empty()) Out << CsvLine(trend.Readings().back()) << std::flush;
      continue;
    }
    ordered_json values = ordered_json::array(), units = ordered_json::array();
    for (int channel = 1; channel <= kChannelCount; ++channel) {
      values.push_back(
          Trim(form.Element(Format("lMeasuringChannel%dValue", channel)).GetText("Caption")));
      units.push_back(
          Trim(form.Element(Format("lMeasuringChannel%dUnit", channel)).GetText("Caption")));
    }
    for (int index = 0; index < kChannelCount && !Options.Json; ++index) {
      const std::string value = values[index].get<std::string>();
      const bool gap = value == "-" || value == "OVR";
      Out << (index > 0 ? "\t" : "") << value << (gap ? "" : " " + units[index].get<std::string>());
    }
    if (Options.Json) {
      // The time of the reading, as a recording of the trend has it.
      const auto& readings = form.Trend().Readings();
      const std::int64_t timeMs = readings.empty()
                                      ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count()
                                      : readings.back().TimeMs;
      Out << ordered_json{{"time", IsoLocalTime(timeMs)}, {"values", values}, {"units", units}}
                 .dump();
    }
    Out << std::endl;
  }
  return ceDone;
}

TFieldList ParseAssignments(const std::vector<std::string>& Words) {
  TFieldList edits;
  for (const std::string& word : Words) {
    const auto equals = word.find('=');
    if (equals == std::string::npos)
      throw TCtlError(ceUsage, "'" + word + "' is not FIELD=VALUE (see --help)");
    const TFieldId id = ParseFieldName(word.substr(0, equals));
    edits.push_back({id, NormalizeFieldValue(id, word.substr(equals + 1))});
  }
  return edits;
}

int Set(const TCtlOptions& Options, std::ostream& Out) {
  // Every value is checked before the module is even connected.
  const TFieldList edits = ParseAssignments({Options.Operands.begin() + 1, Options.Operands.end()});
  TCtlSession session(Options);
  session.Connect(Options.Operands[0]);
  session.WriteAndVerify(edits);
  PrintFields(ReadFields(session.Module()), Out);
  return ceDone;
}

int Backup(const TCtlOptions& Options, std::ostream& Out) {
  TCtlSession session(Options);
  session.Connect(Options.Operands[0]);
  const std::string& file = Options.Operands[1];
  const std::string text = ModuleBackup(session);
  if (CtlInterrupted()) return ceDone;  // asked to end: no file at all
  WriteFileAtomically(file, text);
  Out << "saved " << ModelName(session.Module().ModuleType) << " "
      << Format("%.4d", session.Module().Ident.Production.SerialNumber) << " to " << file << "\n";
  return ceDone;
}

// A backup of another module is written only when the operator says so.
void CheckSameModule(const TBackup& Backup, const std::string& File, const TKVXrec& Module,
                     const TCtlOptions& Options, std::ostream& Err) {
  const std::string model = ModelName(Module.ModuleType);
  if (Backup.Model != model)
    throw TCtlError(ceUsage,
                    File + " is a backup of a " + Backup.Model + " module, this is a " + model);
  const unsigned serial = Module.Ident.Production.SerialNumber;
  if (Backup.Serial == serial) return;
  const std::string other = File + " was taken from serial number " +
                            Format("%.4u", unsigned{Backup.Serial}) + ", this module is " +
                            Format("%.4u", serial);
  if (Options.ToOtherModule) {
    Err << "kvxctl: " << other << "\n";
    return;
  }
  if (!Options.DryRun)
    throw TCtlError(ceUsage, other + "; restore it onto this module with --to-other-module");
  Err << "kvxctl: warning: " << other << "; a restore needs --to-other-module\n";
}

// A directory of audited backups holds the module's own file.
std::string OwnBackupFile(const std::string& Dir, const TKVXrec& Module) {
  const std::string file = (std::filesystem::path(Dir) / AuditFileName(BackupOf(Module))).string();
  if (!std::filesystem::exists(file))
    throw TCtlError(ceNotFound, "no backup of " + std::string(ModelName(Module.ModuleType)) + " " +
                                    Format("%.4d", Module.Ident.Production.SerialNumber) + " in " +
                                    Dir);
  return file;
}

int Restore(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  const std::string& source = Options.Operands[1];
  const bool fromDir = std::filesystem::is_directory(source);
  // A file is checked before the module is even connected.
  std::optional<TBackup> backup;
  if (!fromDir) backup = ReadBackup(source);
  TCtlSession session(Options);
  session.Connect(Options.Operands[0]);
  const std::string file = fromDir ? OwnBackupFile(source, session.Module()) : source;
  if (fromDir) backup = ReadBackup(file);
  CheckSameModule(*backup, file, session.Module(), Options, Err);
  const TFieldList changes =
      RestoreChanges(RangesAsTyped(backup->Fields), ReadFields(session.Module()), Options, Out);
  session.CheckEdits(changes);
  if (changes.empty()) {
    Out << "the module matches " << file << "\n";
    return ceDone;
  }
  if (Options.DryRun) return ceDone;
  session.WriteAndVerify(changes);
  Out << "restored and verified " << changes.size() << " field(s)\n";
  return ceDone;
}

// Every channel searched at once; each module found is read by the search itself.
int Audit(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  const std::string& dir = Options.Operands[0];
  const TDirLock lock(dir);
  // A repository git refuses is told before any file is written.
  const TGitHistory history(dir);
  const bool tracked = history.Tracked();
  TCtlSession session(Options);
  TFTDIManager& manager = session.Manager();
  TChannelListLock channelLock(manager);
  manager.RebuildChannels();
  std::vector<TKVXChannel> channels;
  TKVXChannel channel;
  for (manager.FirstChannel(channel); channel; manager.NextChannel(channel))
    channels.push_back(channel);
  TChannelTestSetup setup;
  for (const std::string& arg : Options.ControllerArgs())
    if (arg.starts_with("baudrate")) setup.ExtraSpeed = arg;
  // Checked when the options were read.
  if (!Options.Addresses.empty()) setup.ScanAddresses = *ParseAddressRange(Options.Addresses);
  TSpeedMemory& speeds = session.Form().Speeds();
  setup.Speeds = &speeds;
  TModuleSearch search(std::move(channels), setup, &session.Form(), true);
  TProgressLine progress(Err);
  search.WaitToEnd(std::chrono::milliseconds(50),
                   [&] { progress.Show(Cp1250ToUtf8(search.Trying()), search.Done()); });
  progress.Clear();
  speeds.SaveFile();
  if (CtlInterrupted()) {
    if (progress.On())
      Err << "kvxctl: search cancelled: " << search.Completed() << " of "
          << PortCount(search.Count()) << " searched\n";
    return ceDone;
  }
  std::vector<TAuditModule> found;
  for (const TFoundModule& module : search.Found())
    found.push_back({Cp1250ToUtf8(module.Channel->GetPortName()),
                     module.Address == kUniversalAddress ? std::nullopt
                                                         : std::optional<unsigned>(module.Address),
                     BackupOf(module.Rec)});
  WarnCollisions(search.Collisions(), Err);
  // A channel that could not be searched is named with its cause.
  PrintProblems(search.Problems(), Err);
  // Its modules would be reported missing without saying why.
  if (const std::string refused = Cp1250ToUtf8(search.Refused()); !refused.empty())
    Err << "kvxctl: " << refused << " may not be opened: " << kPermissionFix << "\n";
  std::vector<std::string> unread;
  for (const TKVXChannel& module : search.Unread())
    unread.push_back(Cp1250ToUtf8(module->GetPortName()));
  const TAuditReport report = RunAudit(dir, found, unread, Options.Update);
  PrintAudit(report, Options.Json, Out);
  if (tracked) history.Commit(WrittenFiles(report), AuditCommitMessage(report));
  return report.ExitCode();
}

}  // namespace

TBackup ReadBackup(const std::string& File) {
  try {
    return LoadBackupFile(File);
  } catch (const TCtlError& error) {
    throw TCtlError(ceUsage, File + ": " + error.what());
  }
}

// An older backup gives a range top only as text: its bottom is then typed too, so that the
// top stays where the backup has it.
TFieldList RangesAsTyped(TFieldList Wanted) {
  for (TFieldValue& want : Wanted) {
    const TFieldValue* top = FindField(Wanted, {TFieldKind::Max, want.Id.Channel});
    if (want.Id.Kind == TFieldKind::Min && top && !top->Bits) want.Bits.reset();
  }
  return Wanted;
}

// The fields of Wanted the module does not hold, each shown as it changes.
TFieldList RestoreChanges(const TFieldList& Wanted, const TFieldList& Held,
                          const TCtlOptions& Options, std::ostream& Out) {
  TFieldList changes;
  for (const TFieldValue& want : Wanted) {
    const TFieldKind kind = want.Id.Kind;
    if ((kind == TFieldKind::Address || kind == TFieldKind::Speed) && !Options.WithComm) continue;
    if (kind == TFieldKind::UserData && !Options.WithUserData) continue;
    const TFieldValue* has = FindField(Held, want.Id);
    if (has && SameSetting(*has, want)) continue;
    Out << FieldName(want.Id) << ": " << (has ? ShownValue(*has) : "(none)") << " -> "
        << ShownValue(want) << "\n";
    changes.push_back(want);
  }
  return changes;
}

std::atomic<bool>& CtlModuleInHand() {
  static std::atomic<bool> inHand{false};
  return inHand;
}

std::atomic<bool>& CtlInterrupted() {
  static std::atomic<bool> interrupted{false};
  return interrupted;
}

int RunCtlCommand(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  const std::string& command = Options.Command;
  if (command == "list") return List(Options, Out, Err);
  if (command == "search") return Search(Options, Out, Err);
  if (command == "show") return Show(Options, Out);
  if (command == "watch") return Watch(Options, Out);
  if (command == "set") return Set(Options, Out);
  if (command == "backup") return Backup(Options, Out);
  if (command == "restore") return Restore(Options, Out, Err);
  if (command == "audit") return Audit(Options, Out, Err);
  if (command == "commission") return Commission(Options, Out, Err);
  if (command == "serve") return Serve(Options, Err);
  throw TCtlError(ceUsage, "unknown command '" + command + "'");
}
