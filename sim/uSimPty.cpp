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
  char Name[128];
  if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
      ::ptsname_r(FMaster, Name, sizeof Name) != 0) {
    ::close(FMaster);
    RaiseSystem("ptsname");
  }
  FSlavePath = Name;
  FSlaveKeeper = ::open(Name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  FStop = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FSlaveKeeper < 0 || FStop < 0) {
    if (FSlaveKeeper >= 0) ::close(FSlaveKeeper);
    if (FStop >= 0) ::close(FStop);
    ::close(FMaster);
    RaiseSystem("slave side");
  }
  // A raw line: the host's bytes arrive unchanged and nothing is echoed back.
  termios2 T;
  if (::ioctl(FSlaveKeeper, TCGETS2, &T) == 0) {
    T.c_iflag = 0;
    T.c_oflag = 0;
    T.c_lflag = 0;
    T.c_cflag = (T.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | CS8 | CREAD | CLOCAL | BOTHER |
                (BOTHER << IBSHIFT);
    T.c_ispeed = T.c_ospeed = 9600;
    ::ioctl(FSlaveKeeper, TCSETS2, &T);
  }
  FThread = std::thread([this] { Run(); });
}

TSimPty::~TSimPty() {
  std::uint64_t One = 1;
  [[maybe_unused]] auto Ignored = ::write(FStop, &One, sizeof One);
  FThread.join();
  ::close(FStop);
  ::close(FSlaveKeeper);
  ::close(FMaster);
}

std::uint32_t TSimPty::LineSpeed() const {
  termios2 T;
  // On a master, the terminal ioctls report the slave side's settings.
  if (::ioctl(FMaster, TCGETS2, &T) != 0) return 0;
  return T.c_ospeed;
}

void TSimPty::Run() {
  std::string Pending;  // due reply bytes the line has not taken yet
  char Buffer[4096];
  for (;;) {
    int Timeout = IdlePollMs;
    if (!Pending.empty()) {
      Timeout = 5;
    } else if (auto Due = FPeer->NextDue()) {
      auto Left = std::chrono::duration_cast<std::chrono::microseconds>(*Due - Clock::now());
      Timeout = static_cast<int>(std::clamp<long long>((Left.count() + 999) / 1000, 0, IdlePollMs));
    }
    pollfd Fds[2] = {{FStop, POLLIN, 0}, {FMaster, POLLIN, 0}};
    int N = ::poll(Fds, 2, Timeout);
    if (N < 0 && errno != EINTR) return;
    if (Fds[0].revents & POLLIN) return;
    if (Fds[1].revents & POLLIN) {
      ssize_t Got = ::read(FMaster, Buffer, sizeof Buffer);
      if (Got > 0)
        FPeer->Write(std::string_view(Buffer, static_cast<std::size_t>(Got)), LineSpeed(),
                     Clock::now());
    }
    Pending += FPeer->Read(Clock::now());
    if (!Pending.empty()) {
      ssize_t Put = ::write(FMaster, Pending.data(), Pending.size());
      if (Put > 0) {
        Pending.erase(0, static_cast<std::size_t>(Put));
        if (Pending.empty()) FLastReplyAt = Clock::now().time_since_epoch().count();
      }
    }
  }
}
