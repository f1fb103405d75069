#include "sim/uSimPty.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/uErrors.h"

namespace {

constexpr int IdlePollMs = 100;  // also how soon a closed slave side is noticed again

[[noreturn]] void RaiseSystem(const char* What) {
  throw Exception(std::string("Cannot create a pseudo-terminal: ") + What + ": " +
                  std::strerror(errno));
}

}  // namespace

TSimPty::TSimPty(std::shared_ptr<ISimPeer> Peer) : FPeer(std::move(Peer)) {
  FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (FMaster < 0) RaiseSystem("posix_openpt");
  char name[128];
  if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
      ::ptsname_r(FMaster, name, sizeof name) != 0) {
    ::close(FMaster);
    RaiseSystem("ptsname");
  }
  FSlavePath = name;
  FSlaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  FStop = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FSlaveKeeper < 0 || FStop < 0) {
    if (FSlaveKeeper >= 0) ::close(FSlaveKeeper);
    if (FStop >= 0) ::close(FStop);
    ::close(FMaster);
    RaiseSystem("slave side");
  }
  // A raw line: the host's bytes arrive unchanged and nothing is echoed back.
  termios2 settings;
  if (::ioctl(FSlaveKeeper, TCGETS2, &settings) == 0) {
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = (settings.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | CS8 | CREAD | CLOCAL |
                       BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = settings.c_ospeed = 9600;
    ::ioctl(FSlaveKeeper, TCSETS2, &settings);
  }
  FThread = std::thread([this] { Run(); });
}

TSimPty::~TSimPty() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto ignored = ::write(FStop, &one, sizeof one);
  FThread.join();
  ::close(FStop);
  ::close(FSlaveKeeper);
  ::close(FMaster);
}

std::uint32_t TSimPty::LineSpeed() const {
  termios2 settings;
  // On a master, the terminal ioctls report the slave side's settings.
  if (::ioctl(FMaster, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

void TSimPty::Run() {
  std::string pending;  // due reply bytes the line has not taken yet
  char buffer[4096];
  for (;;) {
    int timeout = IdlePollMs;
    if (!pending.empty()) {
      timeout = 5;
    } else if (auto due = FPeer->NextDue()) {
      auto left = std::chrono::duration_cast<std::chrono::microseconds>(*due - Clock::now());
      timeout = static_cast<int>(std::clamp<long long>((left.count() + 999) / 1000, 0, IdlePollMs));
    }
    pollfd fds[2] = {{FStop, POLLIN, 0}, {FMaster, POLLIN, 0}};
    int n = ::poll(fds, 2, timeout);
    if (n < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
    if (fds[1].revents & POLLIN) {
      ssize_t got = ::read(FMaster, buffer, sizeof buffer);
      if (got > 0)
        FPeer->Write(std::string_view(buffer, static_cast<std::size_t>(got)), LineSpeed(),
                     Clock::now());
    }
    pending += FPeer->Read(Clock::now());
    if (!pending.empty()) {
      ssize_t put = ::write(FMaster, pending.data(), pending.size());
      if (put > 0) {
        pending.erase(0, static_cast<std::size_t>(put));
        if (pending.empty()) FLastReplyAt = Clock::now().time_since_epoch().count();
      }
    }
  }
}
