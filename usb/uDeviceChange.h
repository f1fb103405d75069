#pragma once
// Device-change notifications: the records that tell the interface manager a port or an
// adapter came or went, and the source that produces them from the kernel's device events
// (libudev). The source watches on a thread of its own and hands each record to the main
// thread through the main-thread dispatcher, where the handler runs.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "comm/uGUID.h"
#include "serial/AfPortMap.h"

class IAfMainThreadDispatcher;

inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr std::uint32_t DBT_DEVTYP_PORT = 3;
inline constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

// Device interface class of the adapter driver.
inline constexpr TGUID GUID_D2XX_DEVICE_CLASS =
    TGUID::FromText("{219D0508-57A8-4FF5-97A1-BD86587C6C7E}");

// One notification: a port (Name is the port name, "COM7") or a device interface (ClassGuid
// and Name, the device path, whose third "#" part is the adapter's serial number).
struct TDeviceBroadcast {
  std::uint32_t DeviceType = 0;
  TGUID ClassGuid{};
  std::string Name;
};

// Handler of a notification: Event is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE (others
// are passed on and ignored by the handler).
using TDeviceChangeHandler = std::function<void(std::uint32_t Event, const TDeviceBroadcast&)>;

// What a device event says, as far as this program cares.
struct TUdevEvent {
  std::string Action;     // "add", "remove", ...
  std::string Subsystem;  // "tty", "usb"
  std::string DevType;    // "usb_device" for a whole USB device
  std::string DevNode;    // "/dev/ttyUSB0"
  std::map<std::string, std::string> Properties;
  std::string SysfsSerial;  // the "serial" attribute of the USB device, when readable
};

// The COM port number whose node (from the port map) is Node or one of its links; 0 if none.
std::int32_t ComPortOfNode(const std::string& Node, const std::string& Links);
// The notification for an event: a tty with a COM number, or an adapter of the driver's
// vendor (0403) with a serial number; nothing for everything else.
std::optional<std::pair<std::uint32_t, TDeviceBroadcast>> DeviceChangeOfUdevEvent(
    const TUdevEvent& Event);

// Watches the device events and hands the resulting notifications to Handler on the main
// thread. Where a device manager runs, its events are taken (after its rules ran, with the
// serial numbers it found); where none runs (containers, minimal systems) the kernel's own,
// so that ports and adapters still come and go.
class TDeviceMonitor {
 public:
  explicit TDeviceMonitor(TDeviceChangeHandler Handler);
  ~TDeviceMonitor();  // stops watching; records not yet handled are dropped
  TDeviceMonitor(const TDeviceMonitor&) = delete;
  TDeviceMonitor& operator=(const TDeviceMonitor&) = delete;

  bool Start();
  bool Running() const { return FThread.joinable(); }
  // "udev" or "kernel" once started.
  const std::string& Source() const { return FSource; }

 private:
  struct TSink;
  void Watch(void* Monitor, IAfMainThreadDispatcher& Dispatcher);

  std::shared_ptr<TSink> FSink;
  std::string FSource;
  // Kernel events of a removed adapter no longer reach its serial number: the one it came with.
  std::map<std::string, std::string> FSerialOfDevice;  // watcher thread only
  int FStopFd = -1;
  std::thread FThread;
};
