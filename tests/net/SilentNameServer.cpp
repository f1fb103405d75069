#include "tests/net/SilentNameServer.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

std::string Failed(const char* What) {
  return std::string(What) + ": " + std::strerror(errno);
}

struct TPipeClose {
  void operator()(FILE* Pipe) const { pclose(Pipe); }
};

}  // namespace

TSilentNameServer::~TSilentNameServer() {
  if (FSocket >= 0) close(FSocket);
  for (const std::string& file : FFiles) unlink(file.c_str());
}

std::string TSilentNameServer::Enter(const std::string& Hosts) {
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0)
    return Failed("no private namespaces (unshare)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Failed("mounts not private");
  if (!SetLoopbackUp(true)) return Failed("loopback not up");
  FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Failed("no name server socket");
  if (std::string why = Replace("/etc/resolv.conf", "nameserver 127.0.0.1\n"); !why.empty())
    return why;
  return Hosts.empty() ? std::string() : Replace("/etc/hosts", Hosts);
}

std::string TSilentNameServer::Replace(const char* Target, const std::string& Text) {
  char path[] = "/tmp/kvx-names-XXXXXX";
  const int file = mkstemp(path);
  if (file < 0) return Failed("no file to replace a system file");
  close(file);
  FFiles.emplace_back(path);
  std::ofstream(path) << Text;
  if (mount(path, Target, nullptr, MS_BIND, nullptr) != 0) return Failed(Target);
  return {};
}

bool SetLoopbackUp(bool Up) {
  const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq loopback{};
  std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
  bool done = control >= 0 && ioctl(control, SIOCGIFFLAGS, &loopback) == 0;
  if (done) {
    loopback.ifr_flags =
        static_cast<short>(Up ? loopback.ifr_flags | IFF_UP : loopback.ifr_flags & ~IFF_UP);
    done = ioctl(control, SIOCSIFFLAGS, &loopback) == 0;
  }
  if (control >= 0) close(control);
  return done;
}

int RunThisProgram(const std::string& Arguments, const char* Name, std::string& Output) {
  char program[4096];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0) return -1;
  const std::string command =
      std::string(Name) + "=1 '" + std::string(program, length) + "' " + Arguments + " 2>&1";
  std::unique_ptr<FILE, TPipeClose> pipe(popen(command.c_str(), "r"));
  if (!pipe) return -1;
  char buffer[512];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
    Output.append(buffer, got);
  const int status = pclose(pipe.release());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
