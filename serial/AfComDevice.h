#pragma once
// The platform device under the port engine: the few operations of a serial line that the
// engine needs, in the shape it relies on (settings record, event wait, queues, purges, lines).
// Two implementations: termios (AfPosixComDevice) and the tests' simulated line
// (sim/AfSimComDevice).
#include <cstdint>
#include <functional>
#include <memory>

// The line settings record of the engine, with its flag bits as the engine builds them.
struct DCB {
  std::uint32_t DCBlength = 28;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
  bool operator==(const DCB&) const = default;
};
static_assert(sizeof(DCB) == 28);

struct COMSTAT {
  std::uint32_t Flags = 0;
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
  bool operator==(const COMSTAT&) const = default;
};

// DCB flag bits.
constexpr std::uint32_t fBinary = 0x0001, fParity = 0x0002, fOutxCtsFlow = 0x0004,
                        fOutxDsrFlow = 0x0008, fDtrControlMask = 0x0030, fDtrControlEnable = 0x0010,
                        fDtrControlHandshake = 0x0020, fDsrSensitivity = 0x0040,
                        fTXContinueOnXoff = 0x0080, fOutX = 0x0100, fInX = 0x0200,
                        fErrorChar = 0x0400, fNull = 0x0800, fRtsControlMask = 0x3000,
                        fRtsControlEnable = 0x1000, fRtsControlHandshake = 0x2000,
                        fAbortOnError = 0x4000;
// Parity and stop bit codes of the record.
constexpr std::uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr std::uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
// Line events.
constexpr std::uint32_t EV_RXCHAR = 0x0001, EV_CTS = 0x0008, EV_DSR = 0x0010, EV_RLSD = 0x0020,
                        EV_BREAK = 0x0040, EV_ERR = 0x0080, EV_RING = 0x0100;
// Modem status bits.
constexpr std::uint32_t MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80;
// Purge flags.
constexpr std::uint32_t PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4,
                        PURGE_RXCLEAR = 0x8;
// Line error bits.
constexpr std::uint32_t CE_RXOVER = 0x1, CE_OVERRUN = 0x2, CE_RXPARITY = 0x4, CE_FRAME = 0x8,
                        CE_BREAK = 0x10;
// Control line functions.
constexpr std::uint32_t SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                        SETBREAK = 8, CLRBREAK = 9;

// Gone: the line was hung up (cable or adapter pulled); it never comes back on this device.
enum class TAfWaitResult { Event, Timeout, Woken, Failed, Gone };
enum class TAfWriteResult { Done, Woken, Failed };

class TAfComDevice {
 public:
  virtual ~TAfComDevice() = default;

  // Reads return at once with what is buffered; writes have no time-out.
  virtual bool SetTimeouts() = 0;
  virtual bool SetupComm(std::int32_t InQueue, std::int32_t OutQueue) = 0;
  // Setting 0 completes a wait in progress with an empty mask.
  virtual bool SetCommMask(std::uint32_t Mask) = 0;
  // Refuses what the line cannot do; the device keeps its previous settings then.
  virtual bool SetCommState(const DCB& Dcb) = 0;
  virtual bool GetCommState(DCB& Dcb) = 0;
  // Waits up to TimeoutMs for events of the mask. Received characters are reported once per
  // arrival. WakeEventWait (any thread) ends the wait with Woken, also when called before it.
  virtual TAfWaitResult WaitCommEvent(std::uint32_t& Mask, int TimeoutMs) = 0;
  virtual void WakeEventWait() = 0;
  // Never blocks; -1 on failure.
  virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
  // Writes all of Count unless woken by WakeWrite (any thread) or failed.
  virtual TAfWriteResult Write(const void* Buffer, std::int32_t Count, std::int32_t& Written) = 0;
  virtual void WakeWrite() = 0;
  virtual bool ClearCommError(std::uint32_t& Errors, COMSTAT& Stat) = 0;
  virtual bool PurgeComm(std::uint32_t Flags) = 0;
  virtual bool EscapeCommFunction(std::uint32_t Function) = 0;
  virtual bool GetCommModemStatus(std::uint32_t& Status) = 0;
  // True once the line was hung up; every operation fails from then on.
  virtual bool Gone() const = 0;
};

// InUse: held by another program (the exclusive open was refused); Denied: the user may not
// open it (file permissions).
enum class TAfOpenError { None, NotFound, CannotOpen, InUse, Denied };

using TAfComDeviceFactory =
    std::function<std::unique_ptr<TAfComDevice>(std::int32_t Port, TAfOpenError& Error)>;

// Opens port number Port (1 upward) through the installed factory (termios by default).
std::unique_ptr<TAfComDevice> AfOpenComDevice(std::int32_t Port, TAfOpenError& Error);
// Installs a factory (an empty one restores termios); returns the previous one.
TAfComDeviceFactory SetAfComDeviceFactory(TAfComDeviceFactory Factory);

// The line events a change of the modem status from Before to Now raises (RING only as it
// comes on).
std::uint32_t AfModemEvents(std::uint32_t Before, std::uint32_t Now);

// What a line under Linux can do: 5 to 8 data bits, any positive speed, every parity, one stop
// bit or two (1.5 only with 5 data bits, as UARTs do), XON/XOFF with distinct characters,
// RTS/CTS only as a pair. Refused: DTR/DSR handshaking, DSR sensitivity, error-character
// replacement, null stripping, abort on error, RTS toggling.
bool AfDcbSupported(const DCB& Dcb);
