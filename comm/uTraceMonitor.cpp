#include "comm/uTraceMonitor.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "support/uPaths.h"

std::string TraceMonitorDirectory() {
  const std::string runtime = XdgRuntimeDir();
  return runtime.empty() ? ProgramSubdir(XdgStateHome()) : runtime;
}

std::string TraceMonitorSocketPath() {
  return TraceMonitorDirectory() + "/" + TRACE_MONITOR_SOCKET_NAME;
}

bool PrepareTraceMonitorDirectory() {
  // The runtime folder is the session's own by definition; the fallback must be checked.
  return !XdgRuntimeDir().empty() || MakePrivateDir(TraceMonitorDirectory());
}

void SendToTraceMonitor(std::uint8_t Direction, const std::string& Data) {
  if (Data.empty()) return;
  if (XdgRuntimeDir().empty() && !IsPrivateDir(TraceMonitorDirectory())) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = TraceMonitorSocketPath();
  if (path.size() >= sizeof(address.sun_path)) return;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  std::string message;
  message.reserve(Data.size() + 1);
  message += static_cast<char>(Direction);
  message += Data;

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // No listener (ENOENT, ECONNREFUSED) or a full queue (EAGAIN): the message is dropped.
  (void)::sendto(fd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  ::close(fd);
}
