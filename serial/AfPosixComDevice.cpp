// Over 400 lines for a reason: this is the one file that calls termios, poll and the modem
// ioctls, so every platform call of the serial line has one home (see AfComDevice.h).
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
#include <optional>

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
  std::uint64_t value;
  while (::read(Fd, &value, sizeof value) > 0) {
  }
}

void SignalEventFd(int Fd) {
  std::uint64_t one = 1;
  [[maybe_unused]] auto ignored = ::write(Fd, &one, sizeof one);
}

DCB DcbFromTermios(const termios2& Settings) {
  DCB dcb;
  dcb.BaudRate = Settings.c_ospeed;
  switch (Settings.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
  }
  if (Settings.c_cflag & PARENB) {
    bool odd = Settings.c_cflag & PARODD;
    if (Settings.c_cflag & CMSPAR)
      dcb.Parity = odd ? MARKPARITY : SPACEPARITY;
    else
      dcb.Parity = odd ? ODDPARITY : EVENPARITY;
  }
  if (Settings.c_cflag & CSTOPB) dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  dcb.Flags = fBinary | fDtrControlEnable | fRtsControlEnable;
  if (Settings.c_iflag & INPCK) dcb.Flags |= fParity;
  if (Settings.c_iflag & IXON) dcb.Flags |= fOutX;
  if (Settings.c_iflag & IXOFF) dcb.Flags |= fInX;
  if (Settings.c_cflag & CRTSCTS)
    dcb.Flags = (dcb.Flags & ~fRtsControlMask) | fOutxCtsFlow | fRtsControlHandshake;
  dcb.XonChar = static_cast<char>(Settings.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(Settings.c_cc[VSTOP]);
  return dcb;
}

// USB serial adapters hold received bytes back for their latency timer (16 ms on the common
// ones), which would make a module's first reply byte miss a short first-reply limit (the
// address scan's). The driver's low-latency mode sends them on at once; drivers without it
// refuse the request, which changes nothing. Gives the flags to restore at close.
std::optional<int> RequestLowLatency(int Fd) {
  serial_struct serial{};
  if (::ioctl(Fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY)) return {};
  const int before = serial.flags;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(Fd, TIOCSSERIAL, &serial) != 0) return {};
  return before;
}

void RestoreSerialFlags(int Fd, int Flags) {
  serial_struct serial{};
  if (::ioctl(Fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags = Flags;
  ::ioctl(Fd, TIOCSSERIAL, &serial);
}

class TAfPosixComDevice : public TAfComDevice {
 public:
  TAfPosixComDevice(int Fd, int EventWake, int WriteWake, const termios2& Initial)
      : FFd(Fd), FEventWake(EventWake), FWriteWake(WriteWake), FCurrent(DcbFromTermios(Initial)) {
    int lines;
    FHasLines = ::ioctl(FFd, TIOCMGET, &lines) == 0;
    if (FHasLines) FLastModem = ModemBits(lines);
    FHasCounters = ::ioctl(FFd, TIOCGICOUNT, &FEventCounters) == 0;
    FStatusCounters = FEventCounters;
    FSerialFlagsBefore = RequestLowLatency(FFd);
  }
  ~TAfPosixComDevice() override {
    if (FSerialFlagsBefore) RestoreSerialFlags(FFd, *FSerialFlagsBefore);
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
    ssize_t n;
    do n = ::read(FFd, Buffer, static_cast<std::size_t>(Count));
    while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? 0 : Failed(-1);
    FTaken += n;
    return static_cast<std::int32_t>(n);
  }
  TAfWriteResult Write(const void* Buffer, std::int32_t Count, std::int32_t& Written) override;
  void WakeWrite() override { SignalEventFd(FWriteWake); }
  bool ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) override;
  bool PurgeComm(std::uint32_t Flags) override {
    bool ok = true;
    if (Flags & PURGE_RXCLEAR) {
      FInputPurged = true;
      ok = Succeeded(::ioctl(FFd, TCFLSH, TCIFLUSH)) && ok;
    }
    if (Flags & PURGE_TXCLEAR) ok = Succeeded(::ioctl(FFd, TCFLSH, TCOFLUSH)) && ok;
    return ok;
  }
  bool EscapeCommFunction(std::uint32_t Function) override;
  bool GetCommModemStatus(std::uint32_t& Status) override {
    int lines = 0;
    if (!Succeeded(::ioctl(FFd, TIOCMGET, &lines))) {
      Status = 0;
      return NoSuchLines(errno);
    }
    Status = ModemBits(lines);
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
  std::optional<int> FSerialFlagsBefore;  // set while the low-latency mode is ours
  // Event thread only:
  std::uint32_t FLastModem = 0;
  serial_icounter_struct FEventCounters{};
  int FLastInCount = 0;
  // Callers of ClearCommError are serialised by the engine:
  serial_icounter_struct FStatusCounters{};
};

bool TAfPosixComDevice::SetCommState(const DCB& Dcb) {
  if (!AfDcbSupported(Dcb)) return false;
  termios2 settings;
  if (!Succeeded(::ioctl(FFd, TCGETS2, &settings))) return false;
  settings.c_iflag = IGNBRK;
  if (Dcb.Flags & fParity) settings.c_iflag |= INPCK;
  if (Dcb.Flags & fOutX) settings.c_iflag |= IXON;
  if (Dcb.Flags & fInX) settings.c_iflag |= IXOFF;
  settings.c_oflag = 0;
  settings.c_lflag = 0;
  settings.c_cflag = (settings.c_cflag & HUPCL) | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  settings.c_cflag |= sizes[Dcb.ByteSize - 5];
  switch (Dcb.Parity) {
    case ODDPARITY:
      settings.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      settings.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      settings.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      settings.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (Dcb.StopBits != ONESTOPBIT) settings.c_cflag |= CSTOPB;
  if (Dcb.Flags & fOutxCtsFlow) settings.c_cflag |= CRTSCTS;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  settings.c_cc[VSTART] = static_cast<cc_t>(Dcb.XonChar);
  settings.c_cc[VSTOP] = static_cast<cc_t>(Dcb.XoffChar);
  settings.c_ispeed = settings.c_ospeed = Dcb.BaudRate;
  if (!Succeeded(::ioctl(FFd, TCSETS2, &settings))) return false;
  // The control lines follow the record, as a driver sets them when it applies one.
  if ((Dcb.Flags & fDtrControlMask) != fDtrControlHandshake)
    SetLine(TIOCM_DTR, (Dcb.Flags & fDtrControlMask) == fDtrControlEnable);
  if ((Dcb.Flags & fRtsControlMask) != fRtsControlHandshake)
    SetLine(TIOCM_RTS, (Dcb.Flags & fRtsControlMask) == fRtsControlEnable);
  FCurrent = Dcb;
  return true;
}

std::uint32_t TAfPosixComDevice::LineChanges() {
  std::uint32_t events = 0;
  if (FHasLines) {
    int lines;
    if (Succeeded(::ioctl(FFd, TIOCMGET, &lines))) {
      std::uint32_t now = ModemBits(lines);
      events |= AfModemEvents(FLastModem, now);
      FLastModem = now;
    }
  }
  if (FHasCounters) {
    serial_icounter_struct now;
    if (Succeeded(::ioctl(FFd, TIOCGICOUNT, &now))) {
      std::uint32_t errors = ErrorBits(FEventCounters, now);
      if (errors & ~CE_BREAK) events |= EV_ERR;
      if (errors & CE_BREAK) events |= EV_BREAK;
      FEventCounters = now;
    }
  }
  return events;
}

TAfWaitResult TAfPosixComDevice::WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (FMaskCleared.exchange(false)) {
      DrainEventFd(FEventWake);
      Mask = 0;
      return TAfWaitResult::Event;
    }
    const std::uint32_t wanted = FMask;
    std::uint32_t events = LineChanges();
    int inCount = 0;
    if (Succeeded(::ioctl(FFd, FIONREAD, &inCount))) {
      // Bytes taken since the last count are not there any more: a queue drained and filled
      // again between two counts must still report its new bytes. (Counted after the queue,
      // so a read in between can only add a report, never lose one.)
      std::int64_t left = FInputPurged.exchange(false) ? 0 : FLastInCount;
      left = std::max<std::int64_t>(0, left - FTaken.exchange(0));
      if (inCount > left) events |= EV_RXCHAR;
      FLastInCount = inCount;
    }
    if (FGone) return TAfWaitResult::Gone;
    events &= wanted;
    if (events) {
      Mask = events;
      return TAfWaitResult::Event;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return TAfWaitResult::Timeout;
    int slice = static_cast<int>(left.count());
    // Readable stays true while bytes wait unread: watch the count instead of the fd then.
    bool watchInput = (wanted & EV_RXCHAR) && FLastInCount == 0;
    if ((wanted & EV_RXCHAR) && FLastInCount > 0) slice = std::min(slice, UnreadSliceMs);
    if ((FHasLines || FHasCounters) && (wanted & ~EV_RXCHAR)) slice = std::min(slice, LineSliceMs);
    pollfd fds[2] = {{FEventWake, POLLIN, 0},
                     {FFd, static_cast<short>(watchInput ? POLLIN : 0), 0}};
    int n = ::poll(fds, 2, slice);
    if (n < 0 && errno != EINTR) return TAfWaitResult::Failed;
    if (n <= 0) continue;
    if (fds[0].revents & POLLIN) {
      DrainEventFd(FEventWake);
      if (FMaskCleared.exchange(false)) {
        Mask = 0;
        return TAfWaitResult::Event;
      }
      return TAfWaitResult::Woken;
    }
    if (fds[1].revents & kHangUpEvents) {
      // Adapter pulled, the kernel's hang-up, far end of a pty closed: it never comes back.
      FGone = true;
      return TAfWaitResult::Gone;
    }
  }
}

TAfWriteResult TAfPosixComDevice::Write(const void* Buffer, std::int32_t Count,
                                        std::int32_t& Written) {
  const char* bytes = static_cast<const char*>(Buffer);
  Written = 0;
  while (Written < Count) {
    ssize_t n = ::write(FFd, bytes + Written, static_cast<std::size_t>(Count - Written));
    if (n > 0) {
      Written += static_cast<std::int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Failed(TAfWriteResult::Failed);
    pollfd fds[2] = {{FWriteWake, POLLIN, 0}, {FFd, POLLOUT, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return TAfWriteResult::Failed;
    if (fds[0].revents & POLLIN) {
      DrainEventFd(FWriteWake);
      return TAfWriteResult::Woken;
    }
    if (fds[1].revents & kHangUpEvents) {
      FGone = true;
      return TAfWriteResult::Failed;
    }
  }
  return TAfWriteResult::Done;
}

bool TAfPosixComDevice::ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) {
  int in = 0, out = 0;
  if (!Succeeded(::ioctl(FFd, FIONREAD, &in))) return false;
  if (!Succeeded(::ioctl(FFd, TIOCOUTQ, &out))) out = 0;
  if (FGone) return false;
  Errors = 0;
  serial_icounter_struct now;
  if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &now) == 0) {
    Errors = ErrorBits(FStatusCounters, now);
    FStatusCounters = now;
  }
  Stat = COMSTAT{0, static_cast<std::uint32_t>(in), static_cast<std::uint32_t>(out)};
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
  int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Error = ErrorOfOpen(errno);
    return nullptr;
  }
  termios2 initial;
  if (::ioctl(fd, TCGETS2, &initial) != 0) {  // not a terminal: no port
    ::close(fd);
    return nullptr;
  }
  Error = TAfOpenError::InUse;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    ::close(fd);
    return nullptr;
  }
  Error = TAfOpenError::CannotOpen;
  int eventWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  int writeWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (eventWake < 0 || writeWake < 0) {
    if (eventWake >= 0) ::close(eventWake);
    if (writeWake >= 0) ::close(writeWake);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return nullptr;
  }
  Error = TAfOpenError::None;
  return std::make_unique<TAfPosixComDevice>(fd, eventWake, writeWake, initial);
}

std::unique_ptr<TAfComDevice> AfOpenPosixComDevice(std::int32_t Port, TAfOpenError& Error) {
  return AfOpenPosixComDeviceAt(AfComPortPath(Port), Error);
}
