#include "tests/net/LoopbackDaemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/net/TestServer.h"

extern char** environ;

namespace {

bool Accepts(int Port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(Port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

std::string TLoopbackDaemon::Find(std::initializer_list<const char*> Candidates) {
  for (const char* candidate : Candidates)
    if (access(candidate, X_OK) == 0) return candidate;
  return {};
}

TLoopbackDaemon::TLoopbackDaemon(std::string Program, TConfigure Configure)
    : FProgram(std::move(Program)), FConfigure(std::move(Configure)) {
  char dir[] = "/tmp/kvx-daemon-XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("no temporary directory");
  FDir = dir;
  // Another program may take the free port before the daemon binds it: try another one.
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = FreeLocalPort();
    if (Start()) return;
  }
  throw std::runtime_error(FProgram + " did not start; see " + FDir + "/daemon.log");
}

TLoopbackDaemon::~TLoopbackDaemon() {
  Kill();
  std::error_code ignored;
  std::filesystem::remove_all(FDir, ignored);
}

bool TLoopbackDaemon::Start() {
  std::vector<std::string> args = FConfigure(FDir, FPort);
  args.insert(args.begin(), FProgram);
  const std::string log = FDir + "/daemon.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const bool spawned =
      posix_spawn(&FPid, FProgram.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    FPid = -1;
    return false;
  }
  if (WaitUntilAccepting()) return true;
  Kill();
  return false;
}

bool TLoopbackDaemon::WaitUntilAccepting() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(FPort)) return true;
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) {  // it gave up, the port was taken
      FPid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void TLoopbackDaemon::Kill() {
  if (FPid <= 0) return;
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
  FPid = -1;
}

void TLoopbackDaemon::Restart() {
  Kill();
  if (!Start()) throw std::runtime_error(FProgram + " did not start again on its port");
}
