#include "tests/usb/fake_ftd2xx/FakePtyPeer.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(2);
}  // namespace

TFakePtyPeer::TFakePtyPeer(const std::string& Path) {
  FFd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (FFd < 0) return;
  termios2 t;
  if (::ioctl(FFd, TCGETS2, &t) == 0) {  // a raw line, whatever it was before
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS8 | CREAD | CLOCAL;
    ::ioctl(FFd, TCSETS2, &t);
  }
}

TFakePtyPeer::~TFakePtyPeer() {
  if (FFd >= 0) ::close(FFd);
}

void TFakePtyPeer::SetSpeed(std::uint32_t Baud) {
  termios2 t;
  if (Baud == 0 || Baud == FBaud || ::ioctl(FFd, TCGETS2, &t) != 0) return;
  t.c_cflag = (t.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = t.c_ospeed = Baud;
  if (::ioctl(FFd, TCSETS2, &t) == 0) FBaud = Baud;
}

void TFakePtyPeer::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point) {
  if (FFd < 0) return;
  SetSpeed(baud);
  while (!bytes.empty()) {
    const ssize_t put = ::write(FFd, bytes.data(), bytes.size());
    if (put > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(put));
    } else if (put < 0 && errno == EAGAIN) {
      pollfd p{FFd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else if (!(put < 0 && errno == EINTR)) {
      return;  // the line is gone: the bytes are lost, as on a pulled cable
    }
  }
}

std::string TFakePtyPeer::Read(Clock::time_point) {
  std::string out;
  if (FFd < 0) return out;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(FFd, buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<std::size_t>(got));
  return out;
}

std::size_t TFakePtyPeer::Available(Clock::time_point) const {
  int n = 0;
  if (FFd < 0 || ::ioctl(FFd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

bool TFakePtyPeer::HungUp() const {
  int n = 0;
  return FFd >= 0 && ::ioctl(FFd, FIONREAD, &n) != 0 && errno == EIO;
}

std::optional<ISimPeer::Clock::time_point> TFakePtyPeer::NextDue() const {
  if (FFd < 0) return std::nullopt;
  return Clock::now() + kPollInterval;
}
