// kvx-trace: shows the traffic of every channel of a KVX setup run started with "DST" or
// "STD". Binds the monitor socket (in the user's runtime or private folder), prints each
// message as a line, and removes the socket on SIGINT or SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "comm/uTraceMonitor.h"
#include "tools/kvx-trace/uTraceFormat.h"

namespace {

class TFd {
 public:
  explicit TFd(int fd) : FDescriptor(fd) {}
  ~TFd() {
    if (FDescriptor >= 0) ::close(FDescriptor);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FDescriptor; }

 private:
  int FDescriptor;
};

int Fail(const std::string& what) {
  std::fprintf(stderr, "kvx-trace: %s: %s\n", what.c_str(), std::strerror(errno));
  return 1;
}

// True when another listener answers on the path; a socket file nobody serves is stale.
bool SomeoneListens(const sockaddr_un& address) {
  TFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  return probe.Get() >= 0 &&
         ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

void PrintUsage(std::FILE* Out) {
  std::fprintf(Out,
               "usage: kvx-trace [--help | --version]\n"
               "Listens on %s and prints every message\n"
               "of a kvxsetup or kvxctl run started with DST or STD.\n",
               TraceMonitorSocketPath().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string option = argc == 2 ? argv[1] : "";
  if (option == "--help" || option == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  if (option == "--version") {
    std::printf("kvx-trace %s\n", KVX_VERSION_TEXT);
    return 0;
  }
  if (argc > 1) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string path = TraceMonitorSocketPath();
  if (!PrepareTraceMonitorDirectory()) {
    std::fprintf(stderr,
                 "kvx-trace: %s is not a folder of yours that only you may write into; "
                 "set XDG_RUNTIME_DIR or fix its owner and mode (0700)\n",
                 TraceMonitorDirectory().c_str());
    return 1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "kvx-trace: socket path too long: %s\n", path.c_str());
    return 1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return Fail("sigprocmask");
  TFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
  if (signalFd.Get() < 0) return Fail("signalfd");

  if (SomeoneListens(address)) {
    std::fprintf(stderr, "kvx-trace: another monitor is already listening on %s\n", path.c_str());
    return 1;
  }
  ::unlink(path.c_str());
  TFd socketFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socketFd.Get() < 0) return Fail("socket");
  if (::bind(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    return Fail("bind " + path);
  std::fprintf(stderr, "kvx-trace: listening on %s\n", path.c_str());

  std::vector<char> buffer(1 << 17);
  int result = 0;
  for (;;) {
    pollfd fds[2] = {{socketFd.Get(), POLLIN, 0}, {signalFd.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      result = Fail("poll");
      break;
    }
    if (fds[1].revents) break;
    if (fds[0].revents & POLLIN) {
      const ssize_t received = ::recv(socketFd.Get(), buffer.data(), buffer.size(), 0);
      if (received < 0) {
        if (errno == EINTR) continue;
        result = Fail("recv");
        break;
      }
      const std::string line = FormatTraceLine(std::chrono::system_clock::now(),
                                               std::string_view(buffer.data(), received));
      if (!line.empty()) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
      }
    }
  }
  ::unlink(path.c_str());
  return result;
}
