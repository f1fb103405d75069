#include "support/uPaths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

TEST(Paths, BaseDirectoriesFollowTheVariablesAndFallBackBelowHome) {
  ScopedEnv home("HOME", "/home/op/");
  {
    ScopedEnv state("XDG_STATE_HOME", "/var/op-state/");
    ScopedEnv data("XDG_DATA_HOME", "relative/ignored");
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(XdgStateHome(), "/var/op-state");
    EXPECT_EQ(XdgDataHome(), "/home/op/.local/share");
    EXPECT_EQ(XdgConfigHome(), "/home/op/.config");
    EXPECT_EQ(ProgramSubdir(XdgStateHome()), "/var/op-state/kvxsetup");
  }
  ScopedEnv state("XDG_STATE_HOME", "");
  EXPECT_EQ(XdgStateHome(), "/home/op/.local/state");
}

TEST(Paths, DataDirsKeepOrderDropRelativeEntriesAndDefaultWhenUnset) {
  {
    ScopedEnv dirs("XDG_DATA_DIRS", "/opt/share/::rel:/usr/share");
    EXPECT_EQ(XdgDataDirs(), (std::vector<std::string>{"/opt/share", "/usr/share"}));
  }
  ScopedEnv dirs("XDG_DATA_DIRS", nullptr);
  EXPECT_EQ(XdgDataDirs(), (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
}

TEST(Paths, RuntimeDirHasNoDefault) {
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000/");
    EXPECT_EQ(XdgRuntimeDir(), "/run/user/1000");
  }
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  EXPECT_EQ(XdgRuntimeDir(), "");
}

TEST(Paths, InstalledDataFolderIsBesideTheProgramsBinFolder) {
  const std::filesystem::path exe(GetExeDir());
  EXPECT_EQ(ProgramDataDir(),
            (exe.parent_path().parent_path() / "share" / "kvxsetup").lexically_normal().string());
}

TEST(Paths, OnlyAProgramInstalledUnderUsrOrTheInstallPrefixKeepsNothingBesideItself) {
  const struct {
    std::string Dir;
    bool Installed;
  } cases[] = {
      {"/usr/bin/", true},  // the package's
      {"/usr/local/bin", true},
      {KVX_INSTALL_BINDIR, true},
      {"/usr/lib/../bin/", true},
      {"/tmp/unpacked/root/usr/bin/", false},
      {"/home/op/kvxsetup/build/default/app/", false},
      {"/usrdata/bin/", false},
      {"/usr/../opt/kvx/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Dir);
    EXPECT_EQ(IsInstalledProgramDir(c.Dir), c.Installed);
  }
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return info.st_mode & 07777;
}

TEST(Paths, PrivateFolderIsCreatedWithItsParentsForTheUserAlone) {
  TTempDir temp;
  const std::string dir = temp.File("state/deeper/kvxsetup");
  ASSERT_TRUE(MakePrivateDir(dir));
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(ModeOf(temp.File("state")), 0700u);
  EXPECT_TRUE(MakePrivateDir(dir + "/")) << "an existing private folder is accepted again";
}

TEST(Paths, PrivateFolderOthersCouldWriteIntoIsRefusedAndLeftAsItIs) {
  TTempDir temp;
  const std::string dir = temp.File("shared");
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
  EXPECT_FALSE(MakePrivateDir(dir));
  EXPECT_EQ(ModeOf(dir), 0777u);
}

TEST(Paths, PrivateFolderOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  TTempDir temp;
  const std::string dir = temp.File("theirs");
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(MakePrivateDir(dir));
}

TEST(Paths, PrivateFolderBehindALinkIsRefused) {
  TTempDir temp;
  ASSERT_TRUE(MakePrivateDir(temp.File("real")));
  std::filesystem::create_directory_symlink(temp.File("real"), temp.File("link"));
  EXPECT_FALSE(MakePrivateDir(temp.File("link")));
  EXPECT_FALSE(MakePrivateDir("relative/dir"));
}

}  // namespace
