// kvxctl audit, run in this process against simulated modules: what the operator reads and
// what the directory of backups holds afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "protocol/uKVXInstructions.h"
#include "support/uStringUtils.h"
#include "tests/app/AppRig.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"
#include "tools/kvxctl/uCtlRecordJson.h"

namespace {

struct TRun {
  int Code;
  std::string Out;
};

TRun RunCtl(const std::vector<std::string>& Args) {
  std::ostringstream out, err;
  try {
    return {RunCtlCommand(ParseCtlOptions(Args), out, err), out.str()};
  } catch (const TCtlError& error) {
    return {error.Code(), out.str() + error.what()};
  }
}

TKvxSimState FastModule(std::uint16_t Serial, const std::string& Name = "") {
  TKvxSimState state = KvxSimFactoryState(mtRS, Serial);
  state.SpeedCode = 10;  // 115200 bit/s
  if (!Name.empty()) state.Channels[1].Setup.Name = Name;
  return state;
}

// COM port number and the module on it.
using TPlant = std::vector<std::pair<int, TKvxSimState>>;

// Unreadable: the COM port of a module that answers its check but not its download.
TRun Audit(const TPlant& Plant, std::vector<std::string> Args, int Unreadable = 0) {
  TAppRig rig;
  for (const auto& [port, state] : Plant) {
    const std::shared_ptr<TKvxSimModule> module = rig.AddComModule(port, state);
    TKvxSimFaults silent;
    silent.OnlyInstruction = kiReadChannelWatch;
    silent.NoAnswer = true;
    if (port == Unreadable) module->SetFaults(silent);
  }
  Args.insert(Args.begin(), "audit");
  return RunCtl(Args);
}

std::string FileOf(std::uint16_t Serial) {
  const TKvxSimState state = FastModule(Serial);
  return std::string(ModelName(mtRS)) + "-" + Format("%.4u", unsigned{state.ProductNumber}) + "-" +
         Format("%.4u", unsigned{Serial}) + ".json";
}

std::string ModuleOf(std::uint16_t Serial, int Port) {
  return std::string(ModelName(mtRS)) + " " + Format("%.4u", unsigned{Serial}) + " on COM" +
         std::to_string(Port);
}

// Git's output of Command run in Dir.
std::string Git(const std::string& Dir, const std::string& Command) {
  std::string output;
  FILE* pipe = popen(("git -C '" + Dir + "' " + Command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  for (int c; (c = std::fgetc(pipe)) != EOF;) output += static_cast<char>(c);
  pclose(pipe);
  return output;
}

TEST(CtlAudit, EachModuleIsReportedAgainstItsOwnFile) {
  const TPlant first{{100, FastModule(4711, "Teplota 1")}, {101, FastModule(4712)}};
  const TPlant renamed{{100, FastModule(4711, "Tlak kotle")}, {101, FastModule(4712)}};
  const struct {
    const char* What;
    TPlant Now;
    std::vector<std::string> Options;
    std::function<void(const std::string& Dir)> Edit;  // what happens to the files between
    int Code;
    std::vector<std::string> Shows;
    const char* FileHolds;  // the text the file of 4711 holds afterwards; null: as first written
    bool Locked = false;    // another audit holds the directory
    int Unreadable = 0;     // see Audit
    const char* Removed = nullptr;  // a file in the directory that is gone afterwards
    const char* Kept = nullptr;     // a user's file in the directory that is still there
  } cases[] = {
      {"as left",
       first,
       {},
       {},
       0,
       {ModuleOf(4711, 100) + ": unchanged", ModuleOf(4712, 101) + ": unchanged"},
       nullptr},
      {"a renamed channel",
       {{100, FastModule(4711, "Tlak kotle")}, {101, FastModule(4712)}},
       {},
       {},
       1,
       {ModuleOf(4711, 100) + ": ch1.name \"Teplota 1\" -> \"Tlak kotle\""},
       nullptr},
      {"a renamed channel recorded",
       {{100, FastModule(4711, "Tlak kotle")}, {101, FastModule(4712)}},
       {"--update"},
       {},
       1,
       {ModuleOf(4711, 100) + ": ch1.name \"Teplota 1\" -> \"Tlak kotle\"",
        ModuleOf(4711, 100) + ": updated"},
       "Tlak kotle"},
      {"a renamed channel for programs",
       {{100, FastModule(4711, "Tlak kotle")}, {101, FastModule(4712)}},
       {"--json"},
       {},
       1,
       {"\"state\": \"differs\"", "\"stored\": \"Teplota 1\""},
       nullptr},
      {"modules swapped between ports",
       {{101, FastModule(4711, "Teplota 1")}, {100, FastModule(4712)}},
       {},
       {},
       0,
       {ModuleOf(4711, 101) + ": unchanged", ModuleOf(4712, 100) + ": unchanged"},
       nullptr},
      {"a module gone",
       {{100, FastModule(4711, "Teplota 1")}},
       {},
       {},
       1,
       {FileOf(4712) + ": missing"},
       nullptr},
      {"a new module",
       {{100, FastModule(4711, "Teplota 1")}, {101, FastModule(4712)}, {102, FastModule(4713)}},
       {},
       {},
       0,
       {ModuleOf(4713, 102) + ": new (" + FileOf(4713) + ")"},
       nullptr},
      {"a half-written file",
       first,
       {},
       [](const std::string& Dir) {
         const std::string file = Dir + FileOf(4712);
         const std::string text = ReadTextFile(file);
         std::ofstream(file, std::ios::trunc) << text.substr(0, text.size() / 2);
       },
       2,
       {FileOf(4712) + ": does not parse"},
       nullptr},
      {"a hand-broken file of a module gone",
       {{101, FastModule(4712)}},
       {},
       [](const std::string& Dir) { std::ofstream(Dir + FileOf(4711), std::ios::trunc) << "{}"; },
       2,
       {FileOf(4711) + ": does not parse"},
       "{}"},
      {"a file nested 100000 deep",
       first,
       {},
       [](const std::string& Dir) {
         std::ofstream(Dir + FileOf(4712), std::ios::trunc) << std::string(100000, '[');
       },
       2,
       {FileOf(4712) + ": does not parse: not a backup (nested deeper than 16 levels)",
        ModuleOf(4711, 100) + ": unchanged"},
       nullptr},
      {"a repository git refuses",
       renamed,
       {"--update"},
       [](const std::string& Dir) { std::ofstream(Dir + ".git") << "gitdir: " << Dir << "gone\n"; },
       2,
       {"git cannot use the repository of ", "not a git repository"},
       nullptr},
      {"a commit git refuses",
       renamed,
       {"--update"},
       [](const std::string& Dir) {
         Git(Dir, "init -q");
         std::ofstream(Dir + ".git/index.lock");
       },
       2,
       {"git cannot add the backups: ", "index.lock"},
       "Tlak kotle"},
      {"two modules showing one serial number",
       {{100, FastModule(4711, "Teplota 1")}, {101, FastModule(4712)}, {102, FastModule(4711)}},
       {"--update"},
       {},
       1,
       {ModuleOf(4711, 100) +
        ": the same model, product and serial number as on COM102; neither recorded"},
       nullptr},
      {"another audit on the directory", first, {}, {}, 2, {"in use"}, nullptr, true},
      {"a temporary a killed audit left beside a user's dot-file",
       first,
       {},
       [](const std::string& Dir) {
         for (const std::string& left :
              {Dir + ".kvxctl-" + FileOf(4712) + ".Ab12Cd", Dir + ".settings.json.backup"}) {
           std::ofstream(left) << "{";
           std::filesystem::last_write_time(
               left, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
         }
       },
       0,
       {ModuleOf(4712, 101) + ": unchanged"},
       nullptr,
       false,
       0,
       ".kvxctl-",
       ".settings.json.backup"},
      {"a module that cannot be read completely",
       first,
       {},
       {},
       3,
       {"module on COM101: unread", ModuleOf(4711, 100) + ": unchanged"},
       nullptr,
       false,
       101},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.What);
    const TTempDir dir;
    ASSERT_EQ(Audit(first, {dir.Dir()}).Code, 0);
    const std::string written = ReadTextFile(dir.File(FileOf(4711)));
    if (test.Edit) test.Edit(dir.Dir());
    std::optional<TDirLock> other;
    if (test.Locked) other.emplace(dir.Dir());
    std::vector<std::string> args = test.Options;
    args.push_back(dir.Dir());
    const TRun run = Audit(test.Now, args, test.Unreadable);
    EXPECT_EQ(run.Code, test.Code) << run.Out;
    for (const std::string& line : test.Shows)
      EXPECT_NE(run.Out.find(line), std::string::npos) << line << " in\n" << run.Out;
    if (test.Removed) {
      for (const auto& entry : std::filesystem::directory_iterator(dir.Dir()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(test.Removed)) << entry.path();
    }
    if (test.Kept) {
      EXPECT_TRUE(std::filesystem::exists(dir.File(test.Kept))) << test.Kept;
    }
    const std::string holds = ReadTextFile(dir.File(FileOf(4711)));
    if (test.FileHolds)
      EXPECT_NE(holds.find(test.FileHolds), std::string::npos) << holds;
    else
      EXPECT_EQ(holds, written);
  }
}

TEST(CtlAudit, ARestoreFromTheDirectoryTakesTheModulesOwnFile) {
  const struct {
    const char* What;
    int Port;  // of the module restored
    int Code;
    const char* Shows;
    const char* NameAfter;  // of channel 1 of the module on COM100
  } cases[] = {
      {"the renamed module", 100, 0, "ch1.name", "Teplota 1"},
      {"a module the audit has not seen", 102, 1, "no backup of", "Tlak kotle"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.What);
    const TTempDir dir;
    TAppRig rig;
    TKvxSimModule& renamed = *rig.AddComModule(100, FastModule(4711, "Teplota 1"));
    rig.AddComModule(101, FastModule(4712));
    ASSERT_EQ(RunCtl({"audit", dir.Dir()}).Code, 0);
    rig.AddComModule(102, FastModule(4713));
    renamed.SetState(FastModule(4711, "Tlak kotle"));
    const TRun run = RunCtl({"restore", "COM" + std::to_string(test.Port), dir.Dir()});
    EXPECT_EQ(run.Code, test.Code) << run.Out;
    EXPECT_NE(run.Out.find(test.Shows), std::string::npos) << run.Out;
    EXPECT_EQ(Trim(renamed.State().Channels[1].Setup.Name), test.NameAfter);
  }
}

TEST(CtlAudit, AGitDirectoryGetsOneCommitNamingWhatChanged) {
  const TPlant first{{100, FastModule(4711, "Teplota 1")}, {101, FastModule(4712)}};
  const TPlant renamed{{100, FastModule(4711, "Tlak kotle")}, {101, FastModule(4712)}};
  const struct {
    const char* What;
    TPlant Now;
    std::vector<std::string> Options;
    int Commits;          // after the first audit's
    std::string Message;  // of the last commit
  } cases[] = {
      {"as left", first, {"--update"}, 0, ModuleOf(4712, 101) + ": new"},
      {"a renamed channel only reported", renamed, {}, 0, ModuleOf(4712, 101) + ": new"},
      {"a renamed channel recorded",
       renamed,
       {"--update"},
       1,
       ModuleOf(4711, 100) + ": ch1.name \"Teplota 1\" -> \"Tlak kotle\""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.What);
    const TTempDir dir;
    Git(dir.Dir(), "init -q && git -C '" + dir.Dir() + "' config user.name Tester && git -C '" +
                       dir.Dir() + "' config user.email tester@localhost");
    ASSERT_EQ(Audit(first, {dir.Dir()}).Code, 0);
    EXPECT_EQ(Git(dir.Dir(), "ls-files"), FileOf(4711) + "\n" + FileOf(4712) + "\n");
    std::vector<std::string> args = test.Options;
    args.push_back(dir.Dir());
    Audit(test.Now, args);
    EXPECT_EQ(Git(dir.Dir(), "rev-list --count HEAD"), std::to_string(1 + test.Commits) + "\n");
    const std::string message = Git(dir.Dir(), "log -1 --format=%B");
    EXPECT_NE(message.find(test.Message), std::string::npos) << message;
    EXPECT_EQ(Git(dir.Dir(), "status --porcelain --untracked-files=no"), "");
  }
}

}  // namespace
