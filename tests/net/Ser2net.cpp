#include "tests/net/Ser2net.h"

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
#include <fstream>
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

std::string TSer2net::Program() {
  for (const char* candidate : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
    if (access(candidate, X_OK) == 0) return candidate;
  return {};
}

TSer2net::TSer2net(std::string Device, bool Rfc2217, std::string LineSettings)
    : FDevice(std::move(Device)), FRfc2217(Rfc2217), FLineSettings(std::move(LineSettings)) {
  char dir[] = "/tmp/kvx-ser2net-XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("no temporary directory");
  FDir = dir;
  // Another program may take the free port before ser2net binds it: try another one.
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = FreeLocalPort();
    if (Start()) return;
  }
  throw std::runtime_error("ser2net did not start; see " + FDir + "/ser2net.log");
}

TSer2net::~TSer2net() {
  Kill();
  std::error_code ignored;
  std::filesystem::remove_all(FDir, ignored);
}

std::string TSer2net::Url() const {
  return std::string(FRfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(FPort);
}

bool TSer2net::Start() {
  const std::string config = FDir + "/ser2net.yaml";
  {
    std::ofstream yaml(config);
    yaml << "connection: &kvx\n"
         << "  accepter: " << (FRfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << FPort
         << "\n"
         << "  connector: serialdev," << FDevice << "," << FLineSettings << ",local\n";
  }
  const std::string log = FDir + "/ser2net.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  const std::string program = Program();
  std::string args[] = {program, "-n", "-d", "-c", config};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(),
                  args[3].data(), args[4].data(), nullptr};
  const bool spawned = posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    FPid = -1;
    return false;
  }
  if (WaitUntilAccepting()) return true;
  Kill();
  return false;
}

bool TSer2net::WaitUntilAccepting() {
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

void TSer2net::Kill() {
  if (FPid <= 0) return;
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
  FPid = -1;
}

void TSer2net::Restart() {
  Kill();
  if (!Start()) throw std::runtime_error("ser2net did not start again on its port");
}
