#include <gtest/gtest.h>

#include <filesystem>

#include "support/uPaths.h"
#include "support/uProgramArgs.h"

TEST(ProgramArgs, SwitchForms) {
  for (const char* on : {"DEBUG", "debug", "/Debug", "-DEBUG", " debug ", "\t-debug\r\n"})
    EXPECT_TRUE(IsSwitch(on, "DEBUG")) << on;
  for (const char* off : {"--debug", "DEBUGX", "/-DEBUG", "de bug", "", "-", "xDEBUG"})
    EXPECT_FALSE(IsSwitch(off, "DEBUG")) << off;
}

TEST(ProgramArgs, SetArgumentsAreSearchedIncludingTheProgramPath) {
  SetProgramArgs({"/opt/kvx/kvxsetup", "baudrate=57600", "/dst"});
  EXPECT_EQ(ProgramArgs().size(), 3u);
  EXPECT_EQ(ProgramArgs()[1], "baudrate=57600");
  EXPECT_TRUE(HasSwitch("DST"));
  EXPECT_FALSE(HasSwitch("STD"));
  SetProgramArgs({"STD"});
  EXPECT_TRUE(HasSwitch("STD"));
  EXPECT_FALSE(HasSwitch("DST"));
  SetProgramArgs({});
  EXPECT_FALSE(HasSwitch("STD"));
}

TEST(Paths, ExeDirHoldsTheRunningProgram) {
  const std::string dir = GetExeDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(dir.front(), '/');
  EXPECT_TRUE(std::filesystem::equivalent(dir + "support_tests", "/proc/self/exe"));
}
