#include "support/uPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets a variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

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

}  // namespace
