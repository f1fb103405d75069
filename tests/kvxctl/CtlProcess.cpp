#include "tests/kvxctl/CtlProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

const std::vector<std::string> kLineOfThree = {"-m", "rs", "-p", "5",  "-a", "7",   "-s", "4007",
                                               "-n", "-l", "-m", "rs", "-a", "12",  "-s", "4012",
                                               "-n", "-l", "-m", "rs", "-a", "200", "-s", "4200"};

namespace {

std::vector<char*> Pointers(std::vector<std::string>& Texts) {
  std::vector<char*> pointers;
  for (std::string& text : Texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "export A='x' B='y'" -> A=x, B=y.
void ParseExports(const std::string& Line, std::vector<std::string>& Env) {
  std::size_t at = Line.find(' ');
  while (at != std::string::npos && at < Line.size()) {
    const std::size_t equals = Line.find("='", at);
    if (equals == std::string::npos) return;
    const std::size_t end = Line.find('\'', equals + 2);
    if (end == std::string::npos) return;
    std::string name = Line.substr(at + 1, equals - at - 1);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    Env.push_back(name + "=" + Line.substr(equals + 2, end - equals - 2));
    at = end + 1;
  }
}

}  // namespace

TRunResult RunKvxctl(const std::vector<std::string>& Args, const std::vector<std::string>& Env,
                     const std::function<void(pid_t)>& WhileRunning) {
  char dir[] = "/tmp/kvxctl-run-XXXXXX";
  TRunResult result;
  if (!mkdtemp(dir)) return result;
  const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv{KVXCTL_PROGRAM};
  argv.insert(argv.end(), Args.begin(), Args.end());
  // A variable given replaces the test's own. Each run has a state folder of its own unless
  // the test gives one: the speeds another run kept never order this run's checks.
  std::vector<std::string> given = Env;
  const auto named = [&](const std::string& Name) {
    return std::any_of(given.begin(), given.end(),
                       [&](const std::string& Given) { return Given.starts_with(Name); });
  };
  if (!named("XDG_STATE_HOME=")) given.push_back("XDG_STATE_HOME=" + std::string(dir) + "/state");
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable(*entry);
    if (!named(variable.substr(0, variable.find('=') + 1))) env.push_back(variable);
  }
  env.insert(env.end(), given.begin(), given.end());
  std::vector<char*> argvPointers = Pointers(argv), envPointers = Pointers(env);
  pid_t pid = -1;
  if (posix_spawn(&pid, KVXCTL_PROGRAM, &actions, nullptr, argvPointers.data(),
                  envPointers.data()) == 0) {
    if (WhileRunning) WhileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}

std::string TakeTraceFile(const TRunResult& Run) {
  const std::string prefix = "kvxctl: trace file ";
  const std::size_t named = Run.Err.find(prefix);
  if (named == std::string::npos) return {};
  const std::size_t start = named + prefix.size();
  const std::string path = Run.Err.substr(start, Run.Err.find('\n', start) - start);
  std::string text = ReadFile(path);
  std::remove(path.c_str());
  return text;
}

TSimProcess::TSimProcess(const std::string& Program, std::vector<std::string> Args,
                         int ExportLines) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  Args.insert(Args.begin(), Program);
  std::vector<char*> argv = Pointers(Args);
  if (posix_spawn(&FPid, Program.c_str(), &actions, nullptr, argv.data(), environ) != 0) FPid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  FILE* out = fdopen(pipeFds[0], "r");
  char line[4096];
  for (int found = 0; out && found < ExportLines && fgets(line, sizeof line, out);) {
    const std::string text = line;
    if (text.rfind("export ", 0) != 0) continue;
    ParseExports(text.substr(0, text.find_last_not_of("\r\n") + 1), FEnv);
    ++found;
  }
  if (out) fclose(out);
}

void TSimProcess::Signal(int Number) const {
  if (FPid > 0) kill(FPid, Number);
}

TSimProcess::~TSimProcess() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  waitpid(FPid, nullptr, 0);
}
