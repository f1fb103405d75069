#include "tools/kvxctl/uCtlCommission.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/uModuleAddress.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlAudit.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"
#include "tools/kvxctl/uCtlGitHistory.h"
#include "tools/kvxctl/uCtlSession.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long the bench port rests between two looks for a module coming or going.
constexpr auto kPollPause = 200ms;
// Checks in a row without an answer before a module counts as taken off.
constexpr int kGoneAfter = 2;

enum class TOutcome { Commissioned, Checked, Differs, Failed, DryRun };

struct TRow {
  int N = 0;             // its place among the modules commissioned in this run; 0 for others
  std::string Module;    // "VIROD 0501"
  unsigned Address = 0;  // where it answers when the run leaves it
  TOutcome Outcome = TOutcome::Failed;
  std::string Note;
};

// The line's folder of backups; without one, free means free in this run.
struct TPlant {
  std::string Dir;
  std::set<unsigned> Taken;  // the addresses its RS modules hold
  bool Tracked = false;      // in git: each backup written is committed
};

std::string ModuleName(const TBackup& Module) {
  return Module.Model + " " + Format("%.4u", unsigned{Module.Serial});
}

bool IsTextField(TFieldKind Kind) {
  return Kind == TFieldKind::UserData || Kind == TFieldKind::Name || Kind == TFieldKind::Unit;
}

// Text with each of Values' names replaced by its value, in one pass so that a value is never
// read as a name.
std::string Filled(std::string_view Text,
                   const std::vector<std::pair<std::string_view, std::string>>& Values) {
  std::string filled;
  for (std::size_t at = 0; at < Text.size();) {
    const auto value = std::find_if(Values.begin(), Values.end(), [&](const auto& Each) {
      return Text.substr(at).starts_with(Each.first);
    });
    if (value == Values.end()) {
      filled += Text[at++];
      continue;
    }
    filled += value->second;
    at += value->first.size();
  }
  return filled;
}

// The address the module held when its backup was taken.
unsigned OwnAddress(const TBackup& Module) {
  const TFieldValue* address = FindField(Module.Fields, {TFieldKind::Address, 0});
  return address ? static_cast<unsigned>(std::stoul(address->Value)) : kUniversalAddress;
}

// The address each RS module of the folder holds. A file that does not parse stops the run:
// its module's address is not known.
std::set<unsigned> PlantAddresses(const std::string& Dir) {
  std::error_code error;
  if (!fs::is_directory(Dir, error)) throw TCtlError(ceUsage, Dir + " is not a directory");
  std::set<unsigned> taken;
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, error)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
    const TBackup backup = ReadBackup(entry.path().string());
    if (backup.Model != ModelName(mtRS)) continue;
    if (backup.Address) taken.insert(*backup.Address);
    taken.insert(OwnAddress(backup));
  }
  return taken;
}

// The names of its channels, as the operator recognises the module on the line.
std::string NamesText(const TKVXrec& Rec) {
  std::string text;
  for (const TFieldValue& field : ReadFields(Rec))
    if (field.Id.Kind == TFieldKind::Name) text += (text.empty() ? "" : ", ") + ShownValue(field);
  return text;
}

std::string DifferencesText(const std::vector<TAuditDifference>& Differences) {
  std::string text;
  for (const TAuditDifference& difference : Differences)
    text += (text.empty() ? "" : ", ") + difference.Field + " " + difference.Stored + " -> " +
            difference.Module;
  return text;
}

void SleepUnlessInterrupted(std::chrono::milliseconds Time) {
  for (auto until = std::chrono::steady_clock::now() + Time;
       std::chrono::steady_clock::now() < until && !CtlInterrupted();)
    std::this_thread::sleep_for(10ms);
}

class TCommissioning {
 public:
  TCommissioning(const TCtlOptions& Options, std::optional<TBackup> Template, TPlant Plant,
                 std::ostream& Out, std::ostream& Err)
      : FOptions(Options),
        FPort(Options.Operands[0]),
        FRange(*ParseAddressRange(Options.Addresses)),  // checked when the options were read
        FTemplate(std::move(Template)),
        FPlant(std::move(Plant)),
        FOut(Out),
        FErr(Err),
        FSession(Options) {}

  int Run();

 private:
  std::optional<unsigned> NextFree() const;
  bool WaitForArrival();
  void WaitForDeparture();
  TRow Handle();
  TRow Check(const TBackup& Module, const std::string& File);
  TRow CommissionNew(const TBackup& Before, unsigned Address);
  // The fields of the template this module is given; those it does not have named and left out.
  TFieldList Settings(const TBackup& Module, unsigned Address, int N);
  // Puts back what the module held when it came; says where it is left.
  std::string RollBack(const TBackup& Before);
  // Commits the module's backup File where the plant's folder is in git; a failure is noted.
  void Commit(TRow& Row, const std::string& File);
  // What was done with the module, and what the operator does next.
  void Report(const TRow& Row, bool More);
  void PrintTable() const;

  const TCtlOptions& FOptions;
  const std::string FPort;
  const std::vector<std::uint8_t> FRange;
  const std::optional<TBackup> FTemplate;
  TPlant FPlant;
  std::ostream& FOut;
  std::ostream& FErr;
  TCtlSession FSession;
  std::set<unsigned> FGiven;  // the addresses given in this run
  std::vector<TRow> FRows;
  int FCommissioned = 0;
  int FCode = ceDone;
};

std::optional<unsigned> TCommissioning::NextFree() const {
  for (const std::uint8_t address : FRange)
    if (!FPlant.Taken.contains(address) && !FGiven.contains(address)) return address;
  return std::nullopt;
}

bool TCommissioning::WaitForArrival() {
  FOut << "waiting for a module on " << FPort << std::endl;
  while (!CtlInterrupted()) {
    if (FSession.ConnectArrived(FPort)) return true;
    SleepUnlessInterrupted(kPollPause);
  }
  return false;
}

void TCommissioning::WaitForDeparture() {
  for (int silent = 0; silent < kGoneAfter && !CtlInterrupted();) {
    silent = FSession.Answers() ? 0 : silent + 1;
    SleepUnlessInterrupted(kPollPause);
  }
}

int TCommissioning::Run() {
  try {
    while (!CtlInterrupted()) {
      if (!NextFree()) {
        FOut << "every address of " << FOptions.Addresses << " is taken" << std::endl;
        break;
      }
      if (!WaitForArrival()) break;
      CtlModuleInHand() = true;
      if (CtlInterrupted()) break;  // asked to end as it came: it is left as it was
      TRow row = Handle();
      if (!CtlModuleInHand().exchange(false))
        row.Note += std::string(row.Note.empty() ? "" : "; ") + "interrupted: " +
                    (row.Outcome == TOutcome::Failed ? "rolled back" : "finished") + " first";
      FRows.push_back(row);
      Report(row, NextFree().has_value() && !CtlInterrupted());
      if (!CtlInterrupted() && NextFree()) WaitForDeparture();
    }
  } catch (...) {
    CtlModuleInHand() = false;
    PrintTable();
    throw;
  }
  PrintTable();
  return FCode;
}

TRow TCommissioning::Handle() {
  const TBackup before = BackupOf(FSession.Module());
  const unsigned address = FSession.Module().Ident.Address;
  try {
    if (FSession.Module().ModuleType != mtRS)
      throw TCtlError(ceUsage, "only the RS model is given an address on a line");
    const std::string file = FPlant.Dir.empty()
                                 ? std::string()
                                 : (fs::path(FPlant.Dir) / AuditFileName(before)).string();
    if (!file.empty() && fs::exists(file) && !FOptions.Reassign) return Check(before, file);
    const std::optional<unsigned> free = NextFree();
    if (!free) throw TCtlError(ceUsage, "no address of " + FOptions.Addresses + " is free");
    return CommissionNew(before, *free);
  } catch (const TCtlError& error) {
    FCode = std::max<int>(FCode, error.Code());
    return {0, ModuleName(before), address, TOutcome::Failed, error.what()};
  }
}

// A module the plant knows keeps its address and is compared with its file.
TRow TCommissioning::Check(const TBackup& Module, const std::string& File) {
  const auto differences = BackupDifferences(ReadBackup(File), Module);
  const std::string name = fs::path(File).filename().string();
  TRow row{0, ModuleName(Module), FSession.Module().Ident.Address, TOutcome::Checked,
           "already in the plant; matches " + name};
  if (differences.empty()) return row;
  FCode = std::max<int>(FCode, ceNotFound);  // as an audit reports a module that drifted
  row.Outcome = TOutcome::Differs;
  row.Note = "already in the plant; differs from " + name + ": " + DifferencesText(differences);
  return row;
}

TFieldList TCommissioning::Settings(const TBackup& Module, unsigned Address, int N) {
  TFieldList settings;
  if (!FTemplate) return settings;
  for (const TFieldValue& field : TemplateSettings(FTemplate->Fields, Module.Serial, Address, N)) {
    CheckSettable(field);  // a text too long once filled in: nothing is written
    try {
      FSession.CheckEdits({field});
    } catch (const TCtlError& lacking) {
      FErr << "kvxctl: " << ModuleName(Module) << ": " << lacking.what() << "; skipped"
           << std::endl;
      continue;
    }
    settings.push_back(field);
  }
  return settings;
}

// The channel settings are written and verified first, where the module answers now; its
// address last, so that a module that refuses a setting is still found where it was.
TRow TCommissioning::CommissionNew(const TBackup& Before, unsigned Address) {
  const int n = FCommissioned + 1;
  FOut << ModuleName(Before) << ":" << (FOptions.DryRun ? " would be written" : "") << std::endl;
  TCtlOptions changes;
  changes.WithUserData = true;
  const TFieldList held = ReadFields(FSession.Module());
  TFieldList settings =
      RestoreChanges(RangesAsTyped(Settings(Before, Address, n)), held, changes, FOut);
  // The speed goes with the settings: the save follows the module to it.
  changes.WithComm = true;
  TFieldList speed;
  if (FOptions.Speed) speed.push_back({{TFieldKind::Speed, 0}, std::to_string(*FOptions.Speed)});
  for (const TFieldValue& field : RestoreChanges(speed, held, changes, FOut))
    settings.push_back(field);
  const TFieldList address =
      RestoreChanges({{{TFieldKind::Address, 0}, std::to_string(Address)}}, held, changes, FOut);
  TRow row{n, ModuleName(Before), Address, TOutcome::DryRun, {}};
  FGiven.insert(Address);
  if (FOptions.DryRun) return row;
  std::string file;
  try {
    FSession.WriteAndVerify(settings);
    // From its own address to the new one, where the save reads everything back.
    FSession.Form().UseOwnAddress();
    FSession.WriteAndVerify(address);
    TBackup backup = BackupOf(FSession.Module());
    backup.Address = static_cast<std::uint8_t>(Address);
    if (!FPlant.Dir.empty()) {
      file = AuditFileName(backup);
      WriteFileAtomically((fs::path(FPlant.Dir) / file).string(), WriteBackup(backup));
    }
  } catch (const TCtlError& error) {
    FGiven.erase(Address);
    FCode = std::max<int>(FCode, error.Code());
    return {0, ModuleName(Before), OwnAddress(Before), TOutcome::Failed,
            std::string(error.what()) + "; " + RollBack(Before)};
  }
  ++FCommissioned;
  row.Outcome = TOutcome::Commissioned;
  row.Note = NamesText(FSession.Module());
  Commit(row, file);
  return row;
}

std::string TCommissioning::RollBack(const TBackup& Before) {
  const unsigned address = OwnAddress(Before);
  TCtlOptions everything;
  everything.WithComm = everything.WithUserData = true;
  std::ostringstream ignored;
  try {
    FSession.Connect(FPort);
    TFieldList undo =
        RestoreChanges(Before.Fields, ReadFields(FSession.Module()), everything, ignored);
    TFieldList comm;
    std::erase_if(undo, [&comm](const TFieldValue& Field) {
      const bool isComm = !IsChannelField(Field.Id.Kind) && Field.Id.Kind != TFieldKind::UserData;
      if (isComm) comm.push_back(Field);
      return isComm || IsReadOnlyField(Field.Id.Kind);
    });
    // Its settings while it is still where it was taken to, its address last.
    FSession.WriteAndVerify(undo);
    FSession.WriteAndVerify(comm);
    return Format("left at address %u as it came", address);
  } catch (const TCtlError& error) {
    return Format("not put back as it came (%s); it was at address %u", error.what(), address);
  }
}

void TCommissioning::Commit(TRow& Row, const std::string& File) {
  if (File.empty() || !FPlant.Tracked) return;
  try {
    TGitHistory(FPlant.Dir)
        .Commit({File},
                Format("kvxctl commission: %s at address %u\n", Row.Module.c_str(), Row.Address));
  } catch (const TCtlError& error) {
    Row.Note += std::string("; ") + error.what();
  }
}

void TCommissioning::Report(const TRow& Row, bool More) {
  FOut << Row.Module << ": ";
  switch (Row.Outcome) {
    case TOutcome::Commissioned:
    case TOutcome::DryRun:
      FOut << (Row.Outcome == TOutcome::DryRun ? "would get address " : "address ") << Row.Address
           << ", "
           << (Row.Outcome == TOutcome::DryRun && FOptions.Speed
                   ? std::to_string(*FOptions.Speed)
                   : FindField(ReadFields(FSession.Module()), {TFieldKind::Speed, 0})->Value)
           << " bit/s";
      break;
    case TOutcome::Checked:
    case TOutcome::Differs:
      FOut << "address " << Row.Address;
      break;
    case TOutcome::Failed:
      FOut << "FAILED";
      break;
  }
  FOut << (Row.Note.empty() ? "" : ", ") << Row.Note
       << (More ? "; unplug it and plug in the next" : "; unplug it") << std::endl;
}

void TCommissioning::PrintTable() const {
  if (FRows.empty()) return;
  static const char* const kOutcomes[] = {"commissioned", "checked", "differs", "failed",
                                          "dry run"};
  FOut << Format("%-3s %-12s %-8s %s\n", "n", "module", "address", "result");
  for (const TRow& row : FRows)
    FOut << Format("%-3s %-12s %-8u %s%s%s\n", row.N ? std::to_string(row.N).c_str() : "-",
                   row.Module.c_str(), row.Address, kOutcomes[static_cast<int>(row.Outcome)],
                   row.Note.empty() ? "" : ": ", row.Note.c_str());
  FOut << std::flush;
}

}  // namespace

TFieldList TemplateSettings(const TFieldList& Template, unsigned Serial, unsigned Address, int N) {
  const std::vector<std::pair<std::string_view, std::string>> values = {
      {"{serial}", Format("%.4u", Serial)},
      {"{address}", std::to_string(Address)},
      {"{n}", std::to_string(N)}};
  TFieldList settings;
  for (TFieldValue field : Template) {
    const TFieldKind kind = field.Id.Kind;
    // Its identity is the template module's own; the line speed is given for the run.
    if (kind == TFieldKind::Address || kind == TFieldKind::Speed || IsReadOnlyField(kind)) continue;
    if (IsTextField(kind)) field.Value = Filled(field.Value, values);
    settings.push_back(field);
  }
  return settings;
}

int Commission(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err) {
  // The template and the plant are read before any module is touched.
  std::optional<TBackup> templateBackup;
  if (!Options.Template.empty()) templateBackup = ReadBackup(Options.Template);
  std::optional<TDirLock> lock;
  TPlant plant;
  if (!Options.Plant.empty()) {
    lock.emplace(Options.Plant);
    plant = {Options.Plant, PlantAddresses(Options.Plant), TGitHistory(Options.Plant).Tracked()};
  }
  TCommissioning run(Options, std::move(templateBackup), std::move(plant), Out, Err);
  return run.Run();
}
