#include "usb/uUsbNode.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

template <auto Unref>
struct TUdevUnref {
  template <typename T>
  void operator()(T* Object) const {
    Unref(Object);
  }
};
using TUdev = std::unique_ptr<udev, TUdevUnref<udev_unref>>;
using TUdevEnumerate = std::unique_ptr<udev_enumerate, TUdevUnref<udev_enumerate_unref>>;
using TUdevDevice = std::unique_ptr<udev_device, TUdevUnref<udev_device_unref>>;

}  // namespace

namespace {

// The node of the USB device whose serial number is Serial, when it has at least Interfaces
// interfaces (a two- or four-port chip has one per port).
std::string NodeOfDevice(udev* Context, const std::string& Serial, long Interfaces) {
  const TUdevEnumerate devices(udev_enumerate_new(Context));
  if (!devices || udev_enumerate_add_match_subsystem(devices.get(), "usb") < 0 ||
      udev_enumerate_add_match_property(devices.get(), "DEVTYPE", "usb_device") < 0 ||
      udev_enumerate_add_match_sysattr(devices.get(), "serial", Serial.c_str()) < 0 ||
      udev_enumerate_scan_devices(devices.get()) < 0)
    return {};
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(devices.get())) {
    const TUdevDevice device(
        udev_device_new_from_syspath(Context, udev_list_entry_get_name(entry)));
    const char* node = device ? udev_device_get_devnode(device.get()) : nullptr;
    const char* count =
        device ? udev_device_get_sysattr_value(device.get(), "bNumInterfaces") : nullptr;
    if (node && (count ? std::strtol(count, nullptr, 10) : 1) >= Interfaces) return node;
  }
  return {};
}

}  // namespace

std::string UsbDeviceNode(const std::string& SerialNumber) {
  const TUdev context(udev_new());
  if (!context || SerialNumber.empty()) return {};
  if (std::string node = NodeOfDevice(context.get(), SerialNumber, 1); !node.empty()) return node;
  // The driver names each port of a two- or four-port chip by the chip's serial number and
  // the port's letter; the chip is the USB device.
  const char letter = SerialNumber.back();
  if (SerialNumber.size() < 2 || letter < 'A' || letter > 'D') return {};
  return NodeOfDevice(context.get(), SerialNumber.substr(0, SerialNumber.size() - 1), 2);
}

TOpenFailure RefusalOf(const std::string& Node) {
  if (Node.empty() || ::access(Node.c_str(), R_OK | W_OK) == 0) return TOpenFailure::InUse;
  return errno == EACCES || errno == EPERM ? TOpenFailure::Denied : TOpenFailure::InUse;
}
