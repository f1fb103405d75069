#pragma once
// The raw USB device node of an adapter, and what a refused open of it means.
#include <string>

#include "comm/uci_ICommunicationInterface.h"

// "/dev/bus/usb/001/004" of the USB device whose serial number is SerialNumber, or for a port
// of a two- or four-port chip ("FT7A") that of the chip; empty when no such device is plugged
// in or udev cannot be asked.
std::string UsbDeviceNode(const std::string& SerialNumber);

// The driver refuses an adapter alike when another program holds it and when the user may not
// open its node: Denied when Node (if known) is not readable and writable by this process,
// else InUse.
TOpenFailure RefusalOf(const std::string& Node);
