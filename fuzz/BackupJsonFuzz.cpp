// Any text as a backup file, as restore and audit load it. A text that loads, written back
// out, loads to the same backup, reals bit for bit (a not-a-number's payload and the sign of
// -0 included), and writes to the same text again; the diff of a backup against itself is
// empty for the audit and for the restore. The same bytes also make a module record, as the
// module would send it (identity bytes, then its setup and watch streams, split at a byte
// the input gives): its backup must load back to the same backup, and restoring it onto the
// module must change nothing.
#include <cstring>
#include <sstream>

#include "fuzz/FuzzCheck.h"
#include "protocol/uKVXxx.h"
#include "support/uCodePage.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "tools/kvxctl/uCtlAudit.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlRecordJson.h"

namespace {

bool SameBits(const std::optional<std::uint32_t>& Left, const std::optional<std::uint32_t>& Right) {
  if (Left.has_value() != Right.has_value()) return false;
  return !Left || std::memcmp(&*Left, &*Right, sizeof *Left) == 0;
}

bool SameBackup(const TBackup& Left, const TBackup& Right) {
  if (Left.Model != Right.Model || Left.Serial != Right.Serial || Left.Product != Right.Product ||
      Left.Type != Right.Type || Left.Production != Right.Production ||
      Left.Address != Right.Address || Left.Fields.size() != Right.Fields.size())
    return false;
  for (std::size_t i = 0; i < Left.Fields.size(); ++i) {
    const TFieldValue& left = Left.Fields[i];
    const TFieldValue& right = Right.Fields[i];
    // A real is compared by its bits where it has them: an older backup's plain decimal stays
    // the text of the bottom as typed, the single it gives is what is written again.
    const bool bitsOnly = IsRealField(left.Id.Kind) && left.Bits && right.Bits;
    if (!(left.Id == right.Id) || !SameBits(left.Bits, right.Bits) ||
        (!bitsOnly && left.Value != right.Value))
      return false;
  }
  return true;
}

// A module with two channels set up, one of them watched, and a -0 among its reals.
const TKVXrec& ModuleRecord() {
  static const TKVXrec rec = [] {
    TKVXrec made;
    made.ModuleType = mtRS;
    made.Ident.Address = 12;
    made.Ident.SpeedCode = 7;
    made.Ident.UserData = Utf8ToCp1250("Hala 3          ");
    TChannelSetup& one = made.Setup[1];
    one.Channel = 1;
    one.Name = "Tlak";
    one.Unit = "bar";
    one.Offset = -0.0f;
    one.Scale = 0.01f;
    one.Decimals = 2;
    made.Setup[3].Channel = 3;
    made.Setup[3].GainPresent = true;
    made.Setup[3].GainIndex = 4;
    made.Watch[1].Flags = 0x81;
    made.Watch[1].UpperLimit = 0.1f;
    made.Watch[1].Hysteresis = -2.5f;
    return made;
  }();
  return rec;
}

// Written out, Backup loads to the same backup and writes the same text again; what a module
// reports of itself (its input ranges) is shown in a backup but not loaded.
TBackup CheckWrittenOut(TBackup Backup) {
  const std::string written = WriteBackup(Backup);
  std::erase_if(Backup.Fields,
                [](const TFieldValue& Field) { return IsReadOnlyField(Field.Id.Kind); });
  TBackup again;
  try {
    again = LoadBackup(written);
  } catch (const TCtlError& error) {
    std::fprintf(stderr, "%s\n%s\n", written.c_str(), error.what());
    FuzzCheck(false, "a backup as written does not load");
  }
  if (!SameBackup(Backup, again)) {
    std::fprintf(stderr, "%s\n%s\n", written.c_str(), WriteBackup(again).c_str());
    FuzzCheck(false, "a backup written out loads to another backup");
  }
  FuzzCheck(WriteBackup(again) == WriteBackup(Backup), "a backup reloaded writes another text");
  return again;
}

TCtlOptions Everything() {
  TCtlOptions options;
  options.WithComm = true;
  options.WithUserData = true;
  return options;
}

void CheckModule(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 4) return;
  static const bool quiet = (SetMessageHandler([](const std::string&) {}), true);
  (void)quiet;
  TKVXrec rec;
  rec.ModuleType = Data[0] % 5;
  rec.Ident.SpeedCode = Data[1];
  rec.Ident.Address = Data[2];
  const std::string streams = FuzzBytes(Data + 4, Size - 4);
  const std::size_t split = std::min<std::size_t>(Data[3], streams.size());
  try {
    ParseSetupStream(rec, streams.substr(0, split));
    ParseWatchStream(rec, streams.substr(split));
  } catch (const Exception&) {
  }
  const TBackup backup = CheckWrittenOut(BackupOf(rec));
  std::ostringstream shown;
  FuzzCheck(
      RestoreChanges(RangesAsTyped(backup.Fields), ReadFields(rec), Everything(), shown).empty(),
      "restoring a module's own backup would change it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  CheckModule(Data, Size);
  TBackup loaded;
  try {
    loaded = LoadBackup(FuzzBytes(Data, Size));
  } catch (const TCtlError& error) {
    // KVX_FUZZ_SHOW=1 says why, when a seed is written by hand.
    if (std::getenv("KVX_FUZZ_SHOW")) std::fprintf(stderr, "refused: %s\n", error.what());
    return 0;
  }
  CheckWrittenOut(loaded);

  FuzzCheck(BackupDifferences(loaded, loaded).empty(),
            "the audit finds a backup differs from itself");
  const TCtlOptions everything = Everything();
  std::ostringstream shown;
  FuzzCheck(RestoreChanges(RangesAsTyped(loaded.Fields), loaded.Fields, everything, shown).empty(),
            "a restore would change a module that holds the backup");
  FuzzCheck(shown.str().empty(), "a restore shows changes where there are none");

  const TBackup module = BackupOf(ModuleRecord());
  RestoreChanges(RangesAsTyped(loaded.Fields), module.Fields, everything, shown);
  TAuditReport report;
  report.Rows.push_back(
      {TAuditState::Differs, "file.json", "module", BackupDifferences(loaded, module), {}});
  PrintAudit(report, true, shown);
  PrintAudit(report, false, shown);
  AuditCommitMessage(report);
  return 0;
}
