#include "serial/AfComDevice.h"

#include <mutex>

#include "serial/AfPosixComDevice.h"

namespace {
std::mutex GFactoryLock;
TAfComDeviceFactory GFactory;
}  // namespace

std::unique_ptr<TAfComDevice> AfOpenComDevice(std::int32_t Port, TAfOpenError& Error) {
  TAfComDeviceFactory factory;
  {
    std::lock_guard guard(GFactoryLock);
    factory = GFactory;
  }
  Error = TAfOpenError::None;
  if (factory) return factory(Port, Error);
  return AfOpenPosixComDevice(Port, Error);
}

TAfComDeviceFactory SetAfComDeviceFactory(TAfComDeviceFactory Factory) {
  std::lock_guard guard(GFactoryLock);
  std::swap(GFactory, Factory);
  return Factory;
}

std::uint32_t AfModemEvents(std::uint32_t Before, std::uint32_t Now) {
  const std::uint32_t changed = Before ^ Now;
  std::uint32_t events = 0;
  if (changed & MS_CTS_ON) events |= EV_CTS;
  if (changed & MS_DSR_ON) events |= EV_DSR;
  if (changed & MS_RLSD_ON) events |= EV_RLSD;
  if (changed & Now & MS_RING_ON) events |= EV_RING;
  return events;
}

bool AfDcbSupported(const DCB& Dcb) {
  if (Dcb.DCBlength != sizeof(DCB) || Dcb.BaudRate == 0) return false;
  if (Dcb.ByteSize < 5 || Dcb.ByteSize > 8 || Dcb.Parity > SPACEPARITY) return false;
  switch (Dcb.StopBits) {
    case ONESTOPBIT:
      break;
    case ONE5STOPBITS:
      if (Dcb.ByteSize != 5) return false;
      break;
    case TWOSTOPBITS:
      if (Dcb.ByteSize == 5) return false;
      break;
    default:
      return false;
  }
  const std::uint32_t flags = Dcb.Flags;
  if (flags & (fOutxDsrFlow | fDsrSensitivity | fErrorChar | fNull | fAbortOnError)) return false;
  if ((flags & fDtrControlMask) == fDtrControlMask ||
      (flags & fDtrControlMask) == fDtrControlHandshake)
    return false;
  if ((flags & fRtsControlMask) == fRtsControlMask) return false;
  bool ctsOut = flags & fOutxCtsFlow;
  bool rtsIn = (flags & fRtsControlMask) == fRtsControlHandshake;
  if (ctsOut != rtsIn) return false;
  if ((flags & (fOutX | fInX)) && Dcb.XonChar == Dcb.XoffChar) return false;
  return true;
}
