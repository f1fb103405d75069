// Where the language files are looked for: the user's folder, the program's directory, the
// data folders, the installed program's data folder; each file name listed once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/uViewElement.h"
#include "lang/uLanguage.h"
#include "lang/uLanguageSelector.h"
#include "support/uPaths.h"
#include "tests/lang/LangTestFiles.h"
#include "tests/support/ScopedEnv.h"

namespace {

class LanguageSearch : public ::testing::Test {
 protected:
  // Puts a language file named Name with the language name Language into Folder/kvxsetup.
  static void Install(const std::string& Folder, const std::string& Name,
                      const std::string& Language) {
    std::filesystem::create_directories(Folder + "kvxsetup");
    WriteFile(Folder + "kvxsetup/" + Name, "<language name=\"" + Language + "\" id=\"$409\"/>");
  }
  // The file each listed name comes from.
  std::map<std::string, std::string> Listed() {
    TLanguage language;
    language.Scan("*.lng.xml");
    std::map<std::string, std::string> files;
    for (const auto& [name, item] : language.Languages()) {
      EXPECT_FALSE(files.count(name)) << name << " listed twice";
      files[name] = item->FileName();
    }
    return files;
  }

  TTempDir temp;
  const std::string user = temp.File("user/");
  const std::string system1 = temp.File("system1/");
  const std::string system2 = temp.File("system2/");
  ScopedEnv dataHome{"XDG_DATA_HOME", user};
  ScopedEnv dataDirs{"XDG_DATA_DIRS", system1 + ":" + system2};
};

TEST_F(LanguageSearch, TheUsersCopyWinsOverTheShippedFileOfTheSameName) {
  Install(user, "english.lng.xml", "my english");
  Install(system1, "english.lng.xml", "system english");
  const auto files = Listed();
  EXPECT_EQ(files.at("english.lng.xml"), user + "kvxsetup/english.lng.xml");
  EXPECT_EQ(files.at("cesky.lng.xml"), GetExeDir() + "cesky.lng.xml");
}

TEST_F(LanguageSearch, ProgramDirectoryComesBeforeTheDataFoldersWhichKeepTheirOrder) {
  Install(system1, "english.lng.xml", "stale english");
  Install(system1, "deutsch.lng.xml", "deutsch");
  Install(system2, "deutsch.lng.xml", "older deutsch");
  Install(system2, "polski.lng.xml", "polski");
  const auto files = Listed();
  EXPECT_EQ(files.at("english.lng.xml"), GetExeDir() + "english.lng.xml");
  EXPECT_EQ(files.at("deutsch.lng.xml"), system1 + "kvxsetup/deutsch.lng.xml");
  EXPECT_EQ(files.at("polski.lng.xml"), system2 + "kvxsetup/polski.lng.xml");
}

TEST_F(LanguageSearch, TheSelectorListsEachLanguageOnceWithTheUsersName) {
  Install(user, "english.lng.xml", "english (mine)");
  Install(system2, "english.lng.xml", "english");
  Install(system2, "slovensky.lng.xml", "slovensky");
  TViewElement form("TfMain", "fMain");
  TViewElement& selector = form.CreateComponent("TComboBox", "cbbLanguage");
  InitializeLanguages(form);
  EXPECT_EQ(selector.Items(), (std::vector<std::string>{"česky", "english (mine)", "slovensky"}));
}

TEST_F(LanguageSearch, FoldersAreSearchedUserFirstThenProgramThenDataThenInstalled) {
  const std::vector<std::string> dirs = LanguageDirs();
  EXPECT_EQ(dirs, (std::vector<std::string>{user + "kvxsetup/", GetExeDir(), system1 + "kvxsetup/",
                                            system2 + "kvxsetup/", ProgramDataDir() + "/"}));
}

}  // namespace
