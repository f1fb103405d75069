#include "tools/kvxctl/uCtlGitHistory.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TGitRun {
  int Code = -1;  // -1: git could not be started
  std::string Output;
};

// Closes a descriptor when it goes out of scope.
struct TFd {
  int Handle = -1;
  ~TFd() {
    if (Handle >= 0) ::close(Handle);
  }
};

struct TSpawnActions {
  posix_spawn_file_actions_t Actions;
  TSpawnActions() { posix_spawn_file_actions_init(&Actions); }
  ~TSpawnActions() { posix_spawn_file_actions_destroy(&Actions); }
};

// git with Args in Dir, its output and error output together.
TGitRun RunGit(const std::string& Dir, std::vector<std::string> Args) {
  Args.insert(Args.begin(), {"git", "-C", Dir});
  std::vector<char*> argv;
  for (std::string& arg : Args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  TFd reader{ends[0]};
  TFd writer{ends[1]};
  TSpawnActions actions;
  posix_spawn_file_actions_adddup2(&actions.Actions, writer.Handle, 1);
  posix_spawn_file_actions_adddup2(&actions.Actions, writer.Handle, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "git", &actions.Actions, nullptr, argv.data(), environ) != 0) return {};
  ::close(writer.Handle);
  writer.Handle = -1;
  TGitRun run;
  std::array<char, 4096> buffer;
  for (ssize_t got; (got = ::read(reader.Handle, buffer.data(), buffer.size())) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    run.Output.append(buffer.data(), static_cast<std::size_t>(got));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return run;
}

void Check(const TGitRun& Run, const std::string& What) {
  if (Run.Code == 0) return;
  throw TCtlError(ceUsage, Run.Code < 0 ? "cannot start git to " + What
                                        : "git cannot " + What + ": " + Trim(Run.Output));
}

// Whether Dir or a folder above it holds a ".git": asked of the file system, as git's answer
// is the same for a folder outside any repository and one in a repository git refuses.
bool InsideRepository(const std::string& Dir) {
  std::error_code error;
  for (fs::path folder = fs::absolute(Dir, error).lexically_normal();;
       folder = folder.parent_path()) {
    if (fs::exists(folder / ".git", error)) return true;
    if (folder == folder.parent_path() || folder.empty()) return false;
  }
}

}  // namespace

bool TGitHistory::Tracked() const {
  if (!InsideRepository(FDir)) return false;
  const TGitRun run = RunGit(FDir, {"rev-parse", "--is-inside-work-tree"});
  Check(run, "use the repository of " + FDir);
  return Trim(run.Output) == "true";  // false inside the .git folder itself
}

void TGitHistory::Commit(const std::vector<std::string>& Files, const std::string& Message) const {
  if (Files.empty()) return;
  std::vector<std::string> add{"add", "--"};
  add.insert(add.end(), Files.begin(), Files.end());
  Check(RunGit(FDir, add), "add the backups");
  std::vector<std::string> staged{"diff", "--cached", "--quiet", "--"};
  staged.insert(staged.end(), Files.begin(), Files.end());
  if (RunGit(FDir, staged).Code == 0) return;  // nothing changed
  std::vector<std::string> commit{"commit", "--quiet", "-m", Message, "--"};
  commit.insert(commit.end(), Files.begin(), Files.end());
  Check(RunGit(FDir, commit), "commit the backups");
}
