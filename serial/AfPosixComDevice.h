#pragma once
// The serial line on Linux: a tty node opened non-blocking and exclusively (flock and
// TIOCEXCL), its settings through termios2 (any speed), events through poll with an eventfd
// to wake the wait, queue counts through FIONREAD/TIOCOUTQ, purges through tcflush, lines
// through TIOCM*. A node without modem lines (a pseudo-terminal) reads them as off and
// ignores setting them.
#include <cstdint>
#include <memory>
#include <string>

#include "serial/AfComDevice.h"

std::unique_ptr<TAfComDevice> AfOpenPosixComDevice(std::int32_t Port, TAfOpenError& Error);
// Opens a node by path (what the port map gave).
std::unique_ptr<TAfComDevice> AfOpenPosixComDeviceAt(const std::string& Path, TAfOpenError& Error);
