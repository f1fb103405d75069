#include "comm/uTraceMonitor.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

std::string TraceMonitorSocketPath() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path + TRACE_MONITOR_SOCKET_NAME;
}

void SendToTraceMonitor(std::uint8_t Direction, const std::string& Data) {
  if (Data.empty()) return;
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
