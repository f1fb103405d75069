#include "usb/uUsbNode.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
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

std::string UsbDeviceNode(const std::string& SerialNumber) {
  const TUdev context(udev_new());
  if (!context || SerialNumber.empty()) return {};
  const TUdevEnumerate devices(udev_enumerate_new(context.get()));
  if (!devices || udev_enumerate_add_match_subsystem(devices.get(), "usb") < 0 ||
      udev_enumerate_add_match_property(devices.get(), "DEVTYPE", "usb_device") < 0 ||
      udev_enumerate_add_match_sysattr(devices.get(), "serial", SerialNumber.c_str()) < 0 ||
      udev_enumerate_scan_devices(devices.get()) < 0)
    return {};
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(devices.get())) {
    const TUdevDevice device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    const char* node = device ? udev_device_get_devnode(device.get()) : nullptr;
    if (node) return node;
  }
  return {};
}

TOpenFailure RefusalOf(const std::string& Node) {
  if (Node.empty() || ::access(Node.c_str(), R_OK | W_OK) == 0) return TOpenFailure::InUse;
  return errno == EACCES || errno == EPERM ? TOpenFailure::Denied : TOpenFailure::InUse;
}
