#include "tools/kvxctl/uCtlAudit.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

std::string PlaceText(const TAuditModule& Module) {
  return Module.Address ? Module.Port + "@" + std::to_string(*Module.Address) : Module.Port;
}

std::string ModuleText(const TAuditModule& Module) {
  return Module.Backup.Model + " " + Format("%.4u", unsigned{Module.Backup.Serial}) + " on " +
         PlaceText(Module);
}

// Modules that would share one file (a cloned serial number, a module seen twice): which of
// them is meant cannot be known, so none of them is recorded.
std::map<std::string, std::vector<std::string>> PlacesOfTwins(
    const std::vector<TAuditModule>& Found) {
  std::map<std::string, std::vector<std::string>> places;
  for (const TAuditModule& module : Found)
    places[AuditFileName(module.Backup)].push_back(PlaceText(module));
  std::erase_if(places, [](const auto& Entry) { return Entry.second.size() < 2; });
  return places;
}

std::string OthersThan(const std::vector<std::string>& Places, const std::string& Place) {
  std::string others;
  for (const std::string& place : Places)
    if (place != Place) others += (others.empty() ? "" : ", ") + place;
  return others;
}

void AddDifference(std::vector<TAuditDifference>& Differences, const std::string& Field,
                   const std::string& Stored, const std::string& Module) {
  if (Stored != Module) Differences.push_back({Field, Stored, Module});
}

std::string Quoted(const std::string& Text) {
  return ordered_json(Text).dump();
}

// A value as programs take it: the JSON value a shown text spells ("Tlak" quoted, 12.5), else
// the text itself (on, (none)).
ordered_json JsonValue(const std::string& Shown) {
  ordered_json value = ordered_json::parse(Shown, nullptr, false);
  return value.is_discarded() ? ordered_json(Shown) : value;
}

// The row of a module whose file is there.
TAuditRow Compare(const fs::path& Path, const TAuditModule& Module, bool Update) {
  TAuditRow row{TAuditState::Unchanged, Path.filename().string(), ModuleText(Module), {}, {}};
  try {
    row.Differences = BackupDifferences(LoadBackupFile(Path.string()), Module.Backup);
  } catch (const TCtlError& error) {
    row.State = TAuditState::Broken;
    row.Problem = error.what();
  }
  if (row.State == TAuditState::Unchanged && !row.Differences.empty())
    row.State = TAuditState::Differs;
  if (row.State != TAuditState::Unchanged && Update) {
    WriteFileAtomically(Path.string(), WriteBackup(Module.Backup));
    row.State = TAuditState::Updated;
  }
  return row;
}

const char* StateName(TAuditState State) {
  switch (State) {
    case TAuditState::New:
      return "new";
    case TAuditState::Unchanged:
      return "unchanged";
    case TAuditState::Differs:
      return "differs";
    case TAuditState::Updated:
      return "updated";
    case TAuditState::Missing:
      return "missing";
    case TAuditState::Unread:
      return "unread";
    case TAuditState::Broken:
      return "broken";
    case TAuditState::Twin:
      return "twin";
  }
  return "";
}

}  // namespace

std::vector<TAuditDifference> BackupDifferences(const TBackup& Stored, const TBackup& Module) {
  std::vector<TAuditDifference> differences;
  AddDifference(differences, "type", Quoted(Stored.Type), Quoted(Module.Type));
  AddDifference(differences, "production", Quoted(Stored.Production), Quoted(Module.Production));
  for (const TFieldValue& stored : Stored.Fields) {
    const TFieldValue* has = FindField(Module.Fields, stored.Id);
    if (has && SameSetting(stored, *has)) continue;
    differences.push_back(
        {FieldName(stored.Id), ShownValue(stored), has ? ShownValue(*has) : "(none)"});
  }
  // What the module reports of itself is not kept in its file.
  for (const TFieldValue& has : Module.Fields)
    if (!IsReadOnlyField(has.Id.Kind) && !FindField(Stored.Fields, has.Id))
      differences.push_back({FieldName(has.Id), "(none)", ShownValue(has)});
  return differences;
}

int TAuditReport::ExitCode() const {
  int code = ceDone;
  for (const TAuditRow& row : Rows) {
    if (row.State == TAuditState::Unread) code = std::max(code, 3);
    if (row.State == TAuditState::Broken) code = std::max(code, 2);
    if (row.State == TAuditState::Differs || row.State == TAuditState::Updated ||
        row.State == TAuditState::Missing || row.State == TAuditState::Twin)
      code = std::max(code, 1);
  }
  return code;
}

std::string AuditFileName(const TBackup& Backup) {
  return Backup.Model + "-" + Format("%.4u", unsigned{Backup.Product}) + "-" +
         Format("%.4u", unsigned{Backup.Serial}) + ".json";
}

TAuditReport RunAudit(const std::string& Dir, const std::vector<TAuditModule>& Found,
                      const std::vector<std::string>& Unread, bool Update) {
  std::error_code error;
  if (!fs::is_directory(Dir, error)) throw TCtlError(ceUsage, Dir + " is not a directory");
  TAuditReport report;
  std::set<std::string> seen;
  const auto twins = PlacesOfTwins(Found);
  for (const TAuditModule& module : Found) {
    const fs::path path = fs::path(Dir) / AuditFileName(module.Backup);
    seen.insert(path.filename().string());
    if (const auto twin = twins.find(path.filename().string()); twin != twins.end()) {
      report.Rows.push_back({TAuditState::Twin,
                             path.filename().string(),
                             ModuleText(module),
                             {},
                             "the same model, product and serial number as on " +
                                 OthersThan(twin->second, PlaceText(module)) +
                                 "; neither recorded"});
      continue;
    }
    if (fs::exists(path, error)) {
      report.Rows.push_back(Compare(path, module, Update));
      continue;
    }
    WriteFileAtomically(path.string(), WriteBackup(module.Backup));
    report.Rows.push_back({TAuditState::New, path.filename().string(), ModuleText(module), {}, {}});
  }
  for (const std::string& port : Unread)
    report.Rows.push_back({TAuditState::Unread, {}, "module on " + port, {}, {}});
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, error))
    if (entry.is_regular_file() && entry.path().extension() == ".json" &&
        !seen.contains(entry.path().filename().string()))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    TAuditRow row{TAuditState::Missing, file.filename().string(), {}, {}, {}};
    try {
      LoadBackupFile(file.string());
    } catch (const TCtlError& problem) {
      row.State = TAuditState::Broken;
      row.Problem = problem.what();
    }
    report.Rows.push_back(row);
  }
  return report;
}

std::vector<std::string> WrittenFiles(const TAuditReport& Report) {
  std::vector<std::string> files;
  for (const TAuditRow& row : Report.Rows)
    if (row.State == TAuditState::New || row.State == TAuditState::Updated)
      files.push_back(row.File);
  return files;
}

std::string AuditCommitMessage(const TAuditReport& Report) {
  std::size_t added = 0, changed = 0;
  std::string body;
  for (const TAuditRow& row : Report.Rows) {
    if (row.State == TAuditState::New) {
      ++added;
      body += row.Module + ": new\n";
    }
    if (row.State != TAuditState::Updated) continue;
    ++changed;
    if (row.Differences.empty()) body += row.Module + ": " + row.File + " replaced\n";
    for (const TAuditDifference& difference : row.Differences)
      body += row.Module + ": " + difference.Field + " " + difference.Stored + " -> " +
              difference.Module + "\n";
  }
  std::string subject = "kvxctl audit:";
  if (changed) subject += " " + std::to_string(changed) + " module(s) changed";
  if (changed && added) subject += ",";
  if (added) subject += " " + std::to_string(added) + " new";
  return subject + "\n\n" + body;
}

void PrintAudit(const TAuditReport& Report, bool Json, std::ostream& Out) {
  if (Json) {
    ordered_json rows = ordered_json::array();
    for (const TAuditRow& row : Report.Rows) {
      ordered_json item{
          {"state", StateName(row.State)}, {"file", row.File}, {"module", row.Module}};
      if (!row.Problem.empty()) item["problem"] = row.Problem;
      ordered_json differences = ordered_json::array();
      for (const TAuditDifference& difference : row.Differences)
        differences.push_back({{"field", difference.Field},
                               {"stored", JsonValue(difference.Stored)},
                               {"module", JsonValue(difference.Module)}});
      if (!differences.empty()) item["differences"] = differences;
      rows.push_back(item);
    }
    Out << rows.dump(2) << "\n";
    return;
  }
  for (const TAuditRow& row : Report.Rows) {
    const std::string who = row.Module.empty() ? row.File : row.Module;
    if (row.State == TAuditState::Broken)
      Out << row.File << ": does not parse: " << row.Problem << "\n";
    if (row.State == TAuditState::Twin)
      Out << who << ": " << row.Problem << "\n";
    else if (row.State == TAuditState::Differs || row.State == TAuditState::Updated)
      for (const TAuditDifference& difference : row.Differences)
        Out << who << ": " << difference.Field << " " << difference.Stored << " -> "
            << difference.Module << "\n";
    if (row.State != TAuditState::Broken && row.State != TAuditState::Differs &&
        row.State != TAuditState::Twin)
      Out << who << ": " << StateName(row.State)
          << (row.State == TAuditState::New ? " (" + row.File + ")" : "") << "\n";
  }
}
