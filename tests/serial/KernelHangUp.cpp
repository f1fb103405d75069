#include "tests/serial/KernelHangUp.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string KernelHangUp(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Path + ": " + std::strerror(errno);
  const bool done = ::ioctl(fd, TIOCVHANGUP) == 0;
  const std::string why =
      done ? std::string() : std::string("TIOCVHANGUP: ") + std::strerror(errno);
  ::close(fd);
  return why;
}
