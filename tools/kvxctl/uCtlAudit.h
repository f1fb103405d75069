#pragma once
// The audit of a plant: every module found compared with its own backup file in a directory,
// named by model, product number and serial number so that a module is recognised on any port.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/kvxctl/uCtlRecordJson.h"

// A module the search read: where it is (its port, and its address on a shared line) and its
// configuration.
struct TAuditModule {
  std::string Port;
  std::optional<unsigned> Address;
  TBackup Backup;
};

enum class TAuditState {
  New,        // no file yet: written
  Unchanged,  // equal to its file
  Differs,    // its file left as it is
  Updated,    // differed, its file replaced (--update)
  Missing,    // a file whose module was not found
  Unread,     // a module answered but could not be read completely
  Broken,     // a file that does not parse
  Twin,       // shows the identity of another module found: neither is recorded
};

struct TAuditDifference {
  std::string Field;
  std::string Stored;  // as kvxctl shows values; "(none)" where one side lacks the field
  std::string Module;
};

struct TAuditRow {
  TAuditState State = TAuditState::New;
  std::string File;    // the name in the directory; empty for an unread module
  std::string Module;  // "VIROD 4711 on COM6"; empty for a file without its module
  std::vector<TAuditDifference> Differences;
  std::string Problem;  // why a broken file does not parse; what a twin shares with which module
};

struct TAuditReport {
  std::vector<TAuditRow> Rows;
  // 0 all matches (new files are no drift), 1 something differs, is missing or has a twin, 2 a file
  // does not parse, 3 a module could not be read; the highest one that applies.
  int ExitCode() const;
};

// What differs between a stored backup and a module's: type and production texts, the stored
// fields in their order, then those only the module has.
std::vector<TAuditDifference> BackupDifferences(const TBackup& Stored, const TBackup& Module);

// "VIROD-0077-4711.json"
std::string AuditFileName(const TBackup& Backup);

// Compares each of Found with its file in Dir and writes the files of new modules (with Update
// also those that differ or do not parse). Unread names the channels whose module answered but
// could not be read. Raises TCtlError(ceUsage) when Dir is no directory or a file cannot be
// written.
TAuditReport RunAudit(const std::string& Dir, const std::vector<TAuditModule>& Found,
                      const std::vector<std::string>& Unread, bool Update);

// The files the audit wrote (new and updated ones), and the commit message that names each of
// their modules and what changed.
std::vector<std::string> WrittenFiles(const TAuditReport& Report);
std::string AuditCommitMessage(const TAuditReport& Report);

void PrintAudit(const TAuditReport& Report, bool Json, std::ostream& Out);
