#include "serial/AfPosixComDevice.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/AfPortMap.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int UnreadSliceMs = 10;  // how soon new bytes are seen while older ones stay unread
constexpr int LineSliceMs = 50;    // how soon a modem line or error counter change is seen

bool NoSuchLines(int Error) {
  return Error == ENOTTY || Error == EINVAL;
}

// What a tty answers once the kernel has hung it up or its device has been removed.
bool HungUp(int Error) {
  return Error == EIO || Error == ENODEV || Error == ENXIO;
}

constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;

void DrainEventFd(int Fd) {
  std::uint64_t Value;
  while (::read(Fd, &Value, sizeof Value) > 0) {
  }
}

void SignalEventFd(int Fd) {
  std::uint64_t One = 1;
  [[maybe_unused]] auto Ignored = ::write(Fd, &One, sizeof One);
}

DCB DcbFromTermios(const termios2& T) {
  DCB D;
  D.BaudRate = T.c_ospeed;
  switch (T.c_cflag & CSIZE) {
    case CS5:
      D.ByteSize = 5;
      break;
    case CS6:
      D.ByteSize = 6;
      break;
    case CS7:
      D.ByteSize = 7;
      break;
    default:
      D.ByteSize = 8;
  }
  if (T.c_cflag & PARENB) {
    bool Odd = T.c_cflag & PARODD;
    if (T.c_cflag & CMSPAR)
      D.Parity = Odd ? MARKPARITY : SPACEPARITY;
    else
      D.Parity = Odd ? ODDPARITY : EVENPARITY;
  }
  if (T.c_cflag & CSTOPB) D.StopBits = D.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  D.Flags = fBinary | fDtrControlEnable | fRtsControlEnable;
  if (T.c_iflag & INPCK) D.Flags |= fParity;
  if (T.c_iflag & IXON) D.Flags |= fOutX;
  if (T.c_iflag & IXOFF) D.Flags |= fInX;
  if (T.c_cflag & CRTSCTS)
    D.Flags = (D.Flags & ~fRtsControlMask) | fOutxCtsFlow | fRtsControlHandshake;
  D.XonChar = static_cast<char>(T.c_cc[VSTART]);
  D.XoffChar = static_cast<char>(T.c_cc[VSTOP]);
  return D;
}

class TAfPosixComDevice : public TAfComDevice {
 public:
  TAfPosixComDevice(int Fd, int EventWake, int WriteWake, const termios2& Initial)
      : FFd(Fd), FEventWake(EventWake), FWriteWake(WriteWake), FCurrent(DcbFromTermios(Initial)) {
    int Lines;
    FHasLines = ::ioctl(FFd, TIOCMGET, &Lines) == 0;
    if (FHasLines) FLastModem = ModemBits(Lines);
    FHasCounters = ::ioctl(FFd, TIOCGICOUNT, &FEventCounters) == 0;
    FStatusCounters = FEventCounters;
  }
  ~TAfPosixComDevice() override {
    ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);  // also gives up the flock
    ::close(FEventWake);
    ::close(FWriteWake);
  }

  bool SetTimeouts() override { return true; }  // the node is non-blocking: reads never wait
  bool SetupComm(std::int32_t InQueue, std::int32_t OutQueue) override {
    return InQueue > 0 && OutQueue > 0;  // the kernel sizes its own queues
  }
  bool SetCommMask(std::uint32_t Mask) override {
    FMask = Mask;
    if (Mask == 0) {
      FMaskCleared = true;
      SignalEventFd(FEventWake);
    }
    return true;
  }
  bool SetCommState(const DCB& Dcb) override;
  bool GetCommState(DCB& Dcb) override {
    Dcb = FCurrent;
    return true;
  }
  TAfWaitResult WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) override;
  void WakeEventWait() override { SignalEventFd(FEventWake); }
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    if (Count <= 0) return Count == 0 ? 0 : -1;
    ssize_t N;
    do N = ::read(FFd, Buffer, static_cast<std::size_t>(Count));
    while (N < 0 && errno == EINTR);
    if (N < 0) return errno == EAGAIN ? 0 : Failed(-1);
    FTaken += N;
    return static_cast<std::int32_t>(N);
  }
  TAfWriteResult Write(const void* Buffer, std::int32_t Count, std::int32_t& Written) override;
  void WakeWrite() override { SignalEventFd(FWriteWake); }
  bool ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) override;
  bool PurgeComm(std::uint32_t Flags) override {
    bool Ok = true;
    if (Flags & PURGE_RXCLEAR) {
      FInputPurged = true;
      Ok = Succeeded(::ioctl(FFd, TCFLSH, TCIFLUSH)) && Ok;
    }
    if (Flags & PURGE_TXCLEAR) Ok = Succeeded(::ioctl(FFd, TCFLSH, TCOFLUSH)) && Ok;
    return Ok;
  }
  bool EscapeCommFunction(std::uint32_t Function) override;
  bool GetCommModemStatus(std::uint32_t& Status) override {
    int Lines = 0;
    if (!Succeeded(::ioctl(FFd, TIOCMGET, &Lines))) {
      Status = 0;
      return NoSuchLines(errno);
    }
    Status = ModemBits(Lines);
    return true;
  }
  bool Gone() const override { return FGone; }

 private:
  static std::uint32_t ModemBits(int Lines) {
    return (Lines & TIOCM_CTS ? MS_CTS_ON : 0) | (Lines & TIOCM_DSR ? MS_DSR_ON : 0) |
           (Lines & TIOCM_RNG ? MS_RING_ON : 0) | (Lines & TIOCM_CAR ? MS_RLSD_ON : 0);
  }
  static std::uint32_t ErrorBits(const serial_icounter_struct& Old,
                                 const serial_icounter_struct& New) {
    return (New.frame != Old.frame ? CE_FRAME : 0) | (New.parity != Old.parity ? CE_RXPARITY : 0) |
           (New.overrun != Old.overrun ? CE_OVERRUN : 0) |
           (New.buf_overrun != Old.buf_overrun ? CE_RXOVER : 0) |
           (New.brk != Old.brk ? CE_BREAK : 0);
  }
  bool SetLine(int Bit, bool On) {
    if (Succeeded(::ioctl(FFd, On ? TIOCMBIS : TIOCMBIC, &Bit))) return true;
    return NoSuchLines(errno);
  }
  // A system call's result; a failure that means the line was hung up is remembered.
  template <typename T>
  T Failed(T Result) {
    if (HungUp(errno)) FGone = true;
    return Result;
  }
  bool Succeeded(int Result) { return Result == 0 || Failed(false); }
  // Events other than received characters, found by comparing with what was seen last.
  std::uint32_t LineChanges();

  const int FFd;
  const int FEventWake;
  const int FWriteWake;
  DCB FCurrent;  // the settings in force
  std::atomic<std::uint32_t> FMask{0};
  std::atomic<bool> FMaskCleared{false};
  std::atomic<bool> FGone{false};
  // What left the input queue since the event wait last counted it: bytes read, or all of it.
  std::atomic<std::int64_t> FTaken{0};
  std::atomic<bool> FInputPurged{false};
  bool FHasLines;
  bool FHasCounters;
  // Event thread only:
  std::uint32_t FLastModem = 0;
  serial_icounter_struct FEventCounters{};
  int FLastInCount = 0;
  // Callers of ClearCommError are serialised by the engine:
  serial_icounter_struct FStatusCounters{};
};

bool TAfPosixComDevice::SetCommState(const DCB& Dcb) {
  if (!AfDcbSupported(Dcb)) return false;
  termios2 T;
  if (!Succeeded(::ioctl(FFd, TCGETS2, &T))) return false;
  T.c_iflag = IGNBRK;
  if (Dcb.Flags & fParity) T.c_iflag |= INPCK;
  if (Dcb.Flags & fOutX) T.c_iflag |= IXON;
  if (Dcb.Flags & fInX) T.c_iflag |= IXOFF;
  T.c_oflag = 0;
  T.c_lflag = 0;
  T.c_cflag = (T.c_cflag & HUPCL) | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
  T.c_cflag |= Sizes[Dcb.ByteSize - 5];
  switch (Dcb.Parity) {
    case ODDPARITY:
      T.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      T.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      T.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      T.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (Dcb.StopBits != ONESTOPBIT) T.c_cflag |= CSTOPB;
  if (Dcb.Flags & fOutxCtsFlow) T.c_cflag |= CRTSCTS;
  T.c_cc[VMIN] = 0;
  T.c_cc[VTIME] = 0;
  T.c_cc[VSTART] = static_cast<cc_t>(Dcb.XonChar);
  T.c_cc[VSTOP] = static_cast<cc_t>(Dcb.XoffChar);
  T.c_ispeed = T.c_ospeed = Dcb.BaudRate;
  if (!Succeeded(::ioctl(FFd, TCSETS2, &T))) return false;
  // The control lines follow the record, as a driver sets them when it applies one.
  if ((Dcb.Flags & fDtrControlMask) != fDtrControlHandshake)
    SetLine(TIOCM_DTR, (Dcb.Flags & fDtrControlMask) == fDtrControlEnable);
  if ((Dcb.Flags & fRtsControlMask) != fRtsControlHandshake)
    SetLine(TIOCM_RTS, (Dcb.Flags & fRtsControlMask) == fRtsControlEnable);
  FCurrent = Dcb;
  return true;
}

std::uint32_t TAfPosixComDevice::LineChanges() {
  std::uint32_t Events = 0;
  if (FHasLines) {
    int Lines;
    if (Succeeded(::ioctl(FFd, TIOCMGET, &Lines))) {
      std::uint32_t Now = ModemBits(Lines);
      Events |= AfModemEvents(FLastModem, Now);
      FLastModem = Now;
    }
  }
  if (FHasCounters) {
    serial_icounter_struct Now;
    if (Succeeded(::ioctl(FFd, TIOCGICOUNT, &Now))) {
      std::uint32_t Errors = ErrorBits(FEventCounters, Now);
      if (Errors & ~CE_BREAK) Events |= EV_ERR;
      if (Errors & CE_BREAK) Events |= EV_BREAK;
      FEventCounters = Now;
    }
  }
  return Events;
}

TAfWaitResult TAfPosixComDevice::WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) {
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (FMaskCleared.exchange(false)) {
      DrainEventFd(FEventWake);
      Mask = 0;
      return TAfWaitResult::Event;
    }
    const std::uint32_t Wanted = FMask;
    std::uint32_t Events = LineChanges();
    int InCount = 0;
    if (Succeeded(::ioctl(FFd, FIONREAD, &InCount))) {
      // Bytes taken since the last count are not there any more: a queue drained and filled
      // again between two counts must still report its new bytes. (Counted after the queue,
      // so a read in between can only add a report, never lose one.)
      std::int64_t Left = FInputPurged.exchange(false) ? 0 : FLastInCount;
      Left = std::max<std::int64_t>(0, Left - FTaken.exchange(0));
      if (InCount > Left) Events |= EV_RXCHAR;
      FLastInCount = InCount;
    }
    if (FGone) return TAfWaitResult::Gone;
    Events &= Wanted;
    if (Events) {
      Mask = Events;
      return TAfWaitResult::Event;
    }
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
    if (Left.count() <= 0) return TAfWaitResult::Timeout;
    int Slice = static_cast<int>(Left.count());
    // Readable stays true while bytes wait unread: watch the count instead of the fd then.
    bool WatchInput = (Wanted & EV_RXCHAR) && FLastInCount == 0;
    if ((Wanted & EV_RXCHAR) && FLastInCount > 0) Slice = std::min(Slice, UnreadSliceMs);
    if ((FHasLines || FHasCounters) && (Wanted & ~EV_RXCHAR)) Slice = std::min(Slice, LineSliceMs);
    pollfd Fds[2] = {{FEventWake, POLLIN, 0},
                     {FFd, static_cast<short>(WatchInput ? POLLIN : 0), 0}};
    int N = ::poll(Fds, 2, Slice);
    if (N < 0 && errno != EINTR) return TAfWaitResult::Failed;
    if (N <= 0) continue;
    if (Fds[0].revents & POLLIN) {
      DrainEventFd(FEventWake);
      if (FMaskCleared.exchange(false)) {
        Mask = 0;
        return TAfWaitResult::Event;
      }
      return TAfWaitResult::Woken;
    }
    if (Fds[1].revents & kHangUpEvents) {
      // Adapter pulled, the kernel's hang-up, far end of a pty closed: it never comes back.
      FGone = true;
      return TAfWaitResult::Gone;
    }
  }
}

TAfWriteResult TAfPosixComDevice::Write(const void* Buffer, std::int32_t Count,
                                        std::int32_t& Written) {
  const char* Bytes = static_cast<const char*>(Buffer);
  Written = 0;
  while (Written < Count) {
    ssize_t N = ::write(FFd, Bytes + Written, static_cast<std::size_t>(Count - Written));
    if (N > 0) {
      Written += static_cast<std::int32_t>(N);
      continue;
    }
    if (N < 0 && errno == EINTR) continue;
    if (N < 0 && errno != EAGAIN) return Failed(TAfWriteResult::Failed);
    pollfd Fds[2] = {{FWriteWake, POLLIN, 0}, {FFd, POLLOUT, 0}};
    if (::poll(Fds, 2, -1) < 0 && errno != EINTR) return TAfWriteResult::Failed;
    if (Fds[0].revents & POLLIN) {
      DrainEventFd(FWriteWake);
      return TAfWriteResult::Woken;
    }
    if (Fds[1].revents & kHangUpEvents) {
      FGone = true;
      return TAfWriteResult::Failed;
    }
  }
  return TAfWriteResult::Done;
}

bool TAfPosixComDevice::ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) {
  int In = 0, Out = 0;
  if (!Succeeded(::ioctl(FFd, FIONREAD, &In))) return false;
  if (!Succeeded(::ioctl(FFd, TIOCOUTQ, &Out))) Out = 0;
  if (FGone) return false;
  Errors = 0;
  serial_icounter_struct Now;
  if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &Now) == 0) {
    Errors = ErrorBits(FStatusCounters, Now);
    FStatusCounters = Now;
  }
  Stat = COMSTAT{0, static_cast<std::uint32_t>(In), static_cast<std::uint32_t>(Out)};
  return true;
}

bool TAfPosixComDevice::EscapeCommFunction(std::uint32_t Function) {
  switch (Function) {
    case SETDTR:
      return SetLine(TIOCM_DTR, true);
    case CLRDTR:
      return SetLine(TIOCM_DTR, false);
    case SETRTS:
      return SetLine(TIOCM_RTS, true);
    case CLRRTS:
      return SetLine(TIOCM_RTS, false);
    case SETBREAK:
      return ::ioctl(FFd, TIOCSBRK) == 0;
    case CLRBREAK:
      return ::ioctl(FFd, TIOCCBRK) == 0;
    case SETXOFF:
      return ::ioctl(FFd, TCXONC, TCOOFF) == 0;
    case SETXON:
      return ::ioctl(FFd, TCXONC, TCOON) == 0;
  }
  return false;
}

TAfOpenError ErrorOfOpen(int Error) {
  switch (Error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTDIR:
      return TAfOpenError::NotFound;
    case EACCES:
    case EPERM:
      return TAfOpenError::Denied;
    case EBUSY:
      return TAfOpenError::InUse;
  }
  return TAfOpenError::CannotOpen;
}

}  // namespace

std::unique_ptr<TAfComDevice> AfOpenPosixComDeviceAt(const std::string& Path, TAfOpenError& Error) {
  Error = TAfOpenError::NotFound;
  if (Path.empty() || AfIsEmptyLegacyPort(Path)) return nullptr;
  int Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) {
    Error = ErrorOfOpen(errno);
    return nullptr;
  }
  termios2 Initial;
  if (::ioctl(Fd, TCGETS2, &Initial) != 0) {  // not a terminal: no port
    ::close(Fd);
    return nullptr;
  }
  Error = TAfOpenError::InUse;
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(Fd, TIOCEXCL) != 0) {
    ::close(Fd);
    return nullptr;
  }
  Error = TAfOpenError::CannotOpen;
  int EventWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int WriteWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (EventWake < 0 || WriteWake < 0) {
    if (EventWake >= 0) ::close(EventWake);
    if (WriteWake >= 0) ::close(WriteWake);
    ::ioctl(Fd, TIOCNXCL);
    ::close(Fd);
    return nullptr;
  }
  Error = TAfOpenError::None;
  return std::make_unique<TAfPosixComDevice>(Fd, EventWake, WriteWake, Initial);
}

std::unique_ptr<TAfComDevice> AfOpenPosixComDevice(std::int32_t Port, TAfOpenError& Error) {
  return AfOpenPosixComDeviceAt(AfComPortPath(Port), Error);
}
