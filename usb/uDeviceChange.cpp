#include "usb/uDeviceChange.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "serial/AfPortMap.h"
#include "serial/AfSafeSync.h"
#include "support/uStringUtils.h"

namespace {

// Where the device manager keeps its control socket: without it no event is ever relayed.
constexpr const char* kDeviceManagerControl = "/run/udev/control";

std::string Property(const TUdevEvent& Event, const char* Name) {
  auto it = Event.Properties.find(Name);
  return it == Event.Properties.end() ? std::string() : it->second;
}

// The hexadecimal field Index of PRODUCT ("403/6001/600"), four digits wide.
std::string ProductField(const TUdevEvent& Event, std::size_t Index) {
  const std::string product = Property(Event, "PRODUCT");
  std::size_t start = 0;
  for (std::size_t i = 0; i < Index; ++i) {
    start = product.find('/', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  std::string field = product.substr(start, product.find('/', start) - start);
  if (field.empty() || field.size() > 4) return {};
  return std::string(4 - field.size(), '0') + field;
}

std::string AdapterSerial(const TUdevEvent& Event) {
  for (const char* name : {"ID_USB_SERIAL_SHORT", "ID_SERIAL_SHORT"}) {
    std::string serial = Property(Event, name);
    if (!serial.empty()) return serial;
  }
  return Event.SysfsSerial;
}

std::string Text(const char* Value) {
  return Value ? Value : "";
}

}  // namespace

std::int32_t ComPortOfNode(const std::string& Node, const std::string& Links) {
  if (Node.empty()) return 0;
  std::vector<std::string> names{Node};
  std::size_t start = 0;
  while (start < Links.size()) {
    std::size_t end = Links.find(' ', start);
    if (end == std::string::npos) end = Links.size();
    if (end > start) names.push_back(Links.substr(start, end - start));
    start = end + 1;
  }
  for (std::int32_t n = 1; n <= kHighestProbedComPort; ++n) {
    const std::string path = AfComPortPath(n);
    if (path.empty()) continue;
    for (const auto& name : names)
      if (name == path) return n;
  }
  return 0;
}

std::optional<std::pair<std::uint32_t, TDeviceBroadcast>> DeviceChangeOfUdevEvent(
    const TUdevEvent& Event) {
  std::uint32_t change;
  if (Event.Action == "add")
    change = DBT_DEVICEARRIVAL;
  else if (Event.Action == "remove")
    change = DBT_DEVICEREMOVECOMPLETE;
  else
    return std::nullopt;

  TDeviceBroadcast record;
  if (Event.Subsystem == "tty") {
    const std::int32_t port = ComPortOfNode(Event.DevNode, Property(Event, "DEVLINKS"));
    if (port == 0) return std::nullopt;
    record.DeviceType = DBT_DEVTYP_PORT;
    record.Name = Format("COM%d", port);
    return std::make_pair(change, record);
  }
  if (Event.Subsystem == "usb" && Event.DevType == "usb_device") {
    std::string vendor = Property(Event, "ID_VENDOR_ID");
    if (vendor.empty()) vendor = ProductField(Event, 0);
    if (!SameText(vendor, "0403")) return std::nullopt;
    const std::string serial = AdapterSerial(Event);
    if (serial.empty()) return std::nullopt;  // cannot be opened by serial number anyway
    std::string product = Property(Event, "ID_MODEL_ID");
    if (product.empty()) product = ProductField(Event, 1);
    record.DeviceType = DBT_DEVTYP_DEVICEINTERFACE;
    record.ClassGuid = GUID_D2XX_DEVICE_CLASS;
    record.Name = "\\\\?\\USB#VID_0403&PID_" + UpperCase(product) + "#" + serial + "#" +
                  GUIDToString(GUID_D2XX_DEVICE_CLASS);
    return std::make_pair(change, record);
  }
  return std::nullopt;
}

// Shared with the jobs posted to the main thread, which may run after the monitor is gone.
struct TDeviceMonitor::TSink {
  std::mutex Lock;
  TDeviceChangeHandler Handler;

  void Deliver(std::uint32_t Event, const TDeviceBroadcast& Record) {
    TDeviceChangeHandler handler;
    {
      std::lock_guard guard(Lock);
      handler = Handler;
    }
    if (handler) handler(Event, Record);
  }
};

TDeviceMonitor::TDeviceMonitor(TDeviceChangeHandler Handler) : FSink(std::make_shared<TSink>()) {
  FSink->Handler = std::move(Handler);
}

TDeviceMonitor::~TDeviceMonitor() {
  {
    std::lock_guard guard(FSink->Lock);
    FSink->Handler = nullptr;
  }
  if (FThread.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(FStopFd, &one, sizeof one);
    FThread.join();
  }
  if (FStopFd >= 0) close(FStopFd);
}

bool TDeviceMonitor::Start() {
  if (FThread.joinable()) return true;
  const std::string source = access(kDeviceManagerControl, F_OK) == 0 ? "udev" : "kernel";
  udev* context = udev_new();
  if (!context) return false;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, source.c_str());
  udev_unref(context);  // the monitor keeps its own reference
  if (!monitor) return false;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
      udev_monitor_enable_receiving(monitor) < 0 || (FStopFd = eventfd(0, EFD_CLOEXEC)) < 0) {
    udev_monitor_unref(monitor);
    return false;
  }
  FSource = source;
  // Taken here, on the owner's thread: asking first from the watcher would make it the
  // main thread of a new plain dispatcher.
  FThread = std::thread(
      [this, monitor, dispatcher = AfMainThreadDispatcher()] { Watch(monitor, *dispatcher); });
  return true;
}

void TDeviceMonitor::Watch(void* Monitor, IAfMainThreadDispatcher& Dispatcher) {
  auto* monitor = static_cast<udev_monitor*>(Monitor);
  pthread_setname_np(pthread_self(), "kvx-devices");
  pollfd fds[2] = {{udev_monitor_get_fd(monitor), POLLIN, 0}, {FStopFd, POLLIN, 0}};
  while (true) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;  // the descriptors are unusable: stop following changes rather than spin
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    udev_device* device = udev_monitor_receive_device(monitor);
    if (!device) continue;
    TUdevEvent event;
    event.Action = Text(udev_device_get_action(device));
    event.Subsystem = Text(udev_device_get_subsystem(device));
    event.DevType = Text(udev_device_get_devtype(device));
    event.DevNode = Text(udev_device_get_devnode(device));
    for (udev_list_entry* e = udev_device_get_properties_list_entry(device); e;
         e = udev_list_entry_get_next(e))
      event.Properties[Text(udev_list_entry_get_name(e))] = Text(udev_list_entry_get_value(e));
    // The filter passes whole USB devices only, so the device is its own usb_device.
    if (event.Subsystem == "usb") {
      const std::string path = Text(udev_device_get_devpath(device));
      if (event.Action == "remove") {
        event.SysfsSerial = FSerialOfDevice[path];
        FSerialOfDevice.erase(path);
      } else {
        event.SysfsSerial = Text(udev_device_get_sysattr_value(device, "serial"));
        FSerialOfDevice[path] = event.SysfsSerial;
      }
    }
    udev_device_unref(device);
    if (auto change = DeviceChangeOfUdevEvent(event))
      Dispatcher.Post(
          [sink = FSink, change = *change] { sink->Deliver(change.first, change.second); });
  }
  udev_monitor_unref(monitor);
}
