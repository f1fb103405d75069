// Closing the main window ends the program, whatever else is open, with a recording complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

extern char** environ;

namespace {

struct TClosedProgram {
  bool Ended = false;
  int Code = -1;
  std::string Out;
};

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the closing walk with Env added. A program still running long after its walk must
// have closed the window is stopped and reported as not ended.
TClosedProgram RunClosingWalk(const TTempDir& Dir, std::vector<std::string> Env) {
  constexpr auto kHangGuard = std::chrono::seconds(90);
  const std::string out = Dir.File("out");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  for (char** entry = environ; *entry; ++entry) Env.emplace_back(*entry);
  std::vector<char*> env;
  for (std::string& entry : Env) env.push_back(entry.data());
  env.push_back(nullptr);
  std::string program = KVX_CLOSING_PROGRAM;
  char* argv[] = {program.data(), nullptr};
  TClosedProgram result;
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int status = 0;
  const auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > giveUp) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  result.Ended = WIFEXITED(status);
  result.Code = result.Ended ? WEXITSTATUS(status) : -1;
  result.Out = ReadText(out);
  return result;
}

TEST(ClosingTheMainWindow, EndsTheProgramAndLeavesTheRecordingComplete) {
  const struct {
    const char* Name;
    bool TrendRecording;
  } kCases[] = {{"trend window never opened", false}, {"trend window open and recording", true}};
  for (const auto& Case : kCases) {
    SCOPED_TRACE(Case.Name);
    const TTempDir Dir;
    const std::string Csv = Dir.File("closing.csv");
    std::vector<std::string> Env{"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + Dir.File("")};
    if (Case.TrendRecording) Env.push_back("KVX_CLOSE_RECORDING=" + Csv);
    const TClosedProgram Closed = RunClosingWalk(Dir, Env);
    ASSERT_TRUE(Closed.Ended) << "still running after its main window closed";
    EXPECT_EQ(Closed.Code, 0);
    if (!Case.TrendRecording) continue;
    const int Recorded = std::stoi(Closed.Out);
    EXPECT_GE(Recorded, 1);
    const std::string Text = ReadText(Csv);
    ASSERT_FALSE(Text.empty());
    EXPECT_EQ(Text.back(), '\n') << "the last line is cut off";
    std::istringstream Lines(Text);
    std::vector<std::string> Rows;
    for (std::string Line; std::getline(Lines, Line);) Rows.push_back(Line);
    ASSERT_EQ(Rows.size(), static_cast<std::size_t>(Recorded) + 1) << Text;
    EXPECT_EQ(Rows.front().rfind("time,", 0), 0u) << Rows.front();
    for (std::size_t Row = 1; Row < Rows.size(); ++Row)
      EXPECT_EQ(std::count(Rows[Row].begin(), Rows[Row].end(), ','), 4) << Rows[Row];
  }
}

}  // namespace
