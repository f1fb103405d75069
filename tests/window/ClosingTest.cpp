// Closing the main window ends the program, whatever else is open, with a recording complete.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/TempDir.h"

namespace {

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ClosingTheMainWindow, EndsTheProgramAndLeavesTheRecordingComplete) {
  for (const bool Recording : {false, true}) {
    SCOPED_TRACE(Recording ? "trend window open and recording" : "trend window never opened");
    const TTempDir Dir;
    const std::string Csv = Dir.File("closing.csv"), Out = Dir.File("out");
    // A program that does not end is stopped long after its walk closed the window.
    const std::string Command = "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + Dir.Dir() +
                                (Recording ? " KVX_CLOSE_RECORDING=" + Csv : std::string()) +
                                " timeout -s KILL 90 " KVX_CLOSING_PROGRAM " >" + Out;
    const int Status = std::system(Command.c_str());
    ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << "ended with " << Status;
    if (!Recording) continue;
    // The header and one whole line of five fields for every reading that came.
    const long Lines = std::stol(ReadText(Out)) + 1;
    const std::string Text = ReadText(Csv);
    EXPECT_EQ(Text.rfind("time,", 0), 0u) << Text;
    EXPECT_TRUE(Text.ends_with('\n')) << "the last line is cut off";
    EXPECT_EQ(std::count(Text.begin(), Text.end(), '\n'), Lines) << Text;
    EXPECT_EQ(std::count(Text.begin(), Text.end(), ','), 4 * Lines) << Text;
  }
}

}  // namespace
