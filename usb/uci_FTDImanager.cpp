#include "usb/uci_FTDImanager.h"

#include <exception>

#include "comm/uci_ISerialPortInterface.h"
#include "net/uci_SerialServer.h"
#include "serial/AfPortMap.h"
#include "serial/AfSafeSync.h"
#include "serial/uCommunicationUtils.h"
#include "serial/uSerialServerUrl.h"
#include "support/uErrors.h"
#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"
#include "usb/uci_FTDIcore.h"
#include "usb/uci_FTDIdirect.h"

namespace {

// The third "#"-separated part of a device path: the adapter's serial number.
std::string SerialNumberOfDevicePath(const std::string& Path) {
  std::size_t start = 0;
  for (int part = 1; part < 3; ++part) {
    start = Path.find('#', start);
    if (start == std::string::npos)
      throw Exception(Format("Device path '%s' has no serial number part", Path.c_str()));
    ++start;
  }
  return Path.substr(start, Path.find('#', start) - start);
}

// Which of Names are ports of the adapter with serial number Serial: the serial number itself,
// or, on two- and four-port chips (which list no port under the bare number), the serial
// number and the port's letter. Another adapter's number may be this one's plus a letter: a
// port listed under the bare number rules the lettered ones out, and lettered names count as
// a chip's ports only when its ports A and B are both listed (a chip always lists all of them).
std::vector<std::size_t> PortsOfAdapter(const std::vector<std::string>& Names,
                                        const std::string& Serial) {
  std::vector<std::size_t> exact, lettered;
  bool portA = false, portB = false;
  for (std::size_t index = 0; index < Names.size(); ++index) {
    const std::string& name = Names[index];
    if (name == Serial) {
      exact.push_back(index);
    } else if (name.size() == Serial.size() + 1 && name.starts_with(Serial) && name.back() >= 'A' &&
               name.back() <= 'D') {
      lettered.push_back(index);
      portA = portA || name.back() == 'A';
      portB = portB || name.back() == 'B';
    }
  }
  if (!exact.empty()) return exact;
  return portA && portB ? lettered : std::vector<std::size_t>{};
}

// The driver's listed serial numbers that belong to the adapter Serial.
std::vector<std::string> DriverPortsOfAdapter(const std::string& Serial) {
  std::vector<std::string> listed;
  DWORD count = 0;
  if (FTDI().FT_CreateDeviceInfoList(&count) != FT_OK) return listed;
  for (DWORD index = 0; index < count; ++index) {
    char serial[kFTSerialNumberSize + 1] = {};
    char description[kFTDescriptionSize + 1] = {};
    DWORD flags = 0, type = 0, id = 0, location = 0;
    FT_HANDLE handle = nullptr;
    if (FTDI().FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description,
                                      &handle) == FT_OK)
      listed.emplace_back(serial);
  }
  std::vector<std::string> ports;
  for (const std::size_t index : PortsOfAdapter(listed, Serial)) ports.push_back(listed[index]);
  return ports;
}

}  // namespace

// Hears the closed notification of every listed channel, on whatever thread the channel
// raises it, and hands the removal of a channel whose device went away to the main thread.
// Shared with the jobs posted there, which may run after the manager is gone.
struct TFTDIManager::TGoneWatch {
  std::mutex Lock;
  TFTDIManager* Manager = nullptr;
  std::shared_ptr<IAfMainThreadDispatcher> Dispatcher = AfMainThreadDispatcher();
  std::weak_ptr<TGoneWatch> Self;

  void ChannelClosed(const TIntfPtr<ICommunicationInterface>& Channel) {
    if (!Channel || !IsDeviceGone(*Channel)) return;
    DebugLog("Device gone " + Channel->GetPortName());
    Dispatcher->Post([watch = Self.lock(), name = Channel->GetPortName()] {
      std::lock_guard lock(watch->Lock);
      if (watch->Manager) watch->Manager->Removal(name);
    });
  }
};

TFTDIManager::TFTDIManager()
    : FGoneWatch(std::make_shared<TGoneWatch>()),
      FMonitor(std::make_unique<TDeviceMonitor>(
          [this](std::uint32_t Event, const TDeviceBroadcast& Record) {
            DeviceChange(Event, Record);
          })) {
  FGoneWatch->Manager = this;
  FGoneWatch->Self = FGoneWatch;
  if (FMonitor->Start())
    DebugLog("Device notifications from the " + FMonitor->Source() + " events");
  else
    DebugLog(
        "Device notifications unavailable: ports and adapters plugged in or pulled out are not "
        "followed");
}

TFTDIManager::~TFTDIManager() {
  FMonitor.reset();
  {
    std::lock_guard lock(FGoneWatch->Lock);
    FGoneWatch->Manager = nullptr;
  }
  std::lock_guard lock(FListLock);
  ClearChannels();
}

void TFTDIManager::Append(TIntfPtr<ICommunicationInterface> Channel) {
  std::lock_guard lock(FListLock);
  Channel->GetClosedEvents().Add(Bind<&TGoneWatch::ChannelClosed>(FGoneWatch.get()));
  FChannels.push_back(std::move(Channel));
}

void TFTDIManager::ClearChannels() {
  // A channel may outlive the list (the window holds the connected one).
  for (const auto& channel : FChannels)
    channel->GetClosedEvents().Remove(Bind<&TGoneWatch::ChannelClosed>(FGoneWatch.get()));
  FChannels.clear();
}

std::int32_t TFTDIManager::RebuildChannels() {
  std::lock_guard lock(FListLock);
  ClearChannels();
  for (std::int32_t n = 1; n <= kHighestProbedComPort; ++n) {
    // A serial device server is listed without connecting to it: a search connects anyway.
    if (IsSerialServerUrl(AfComPortPath(n))) {
      Append(Create<TSerialServerInterface>(Format("comport=%d", n)));
      continue;
    }
    const std::uint8_t state = ProbeComPort(n).State;
    if (state == AfPortInUse || state == AfPortFree)
      Append(Create<TSerialPortInterface>(Format("comport=%d", n)));
  }
  DWORD count = 0;
  const FT_STATUS status = FTDI().FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
  if (status != FT_OK) {
    FTStatusReport("GetFTDeviceCount", status);
    return -1;
  }
  for (std::int32_t index = static_cast<std::int32_t>(count) - 1; index >= 0; --index)
    Append(Create<TFTDIDevice>(index, std::string()));
  return 0;
}

void TFTDIManager::LockChannels() {
  FListLock.lock();
}
void TFTDIManager::UnlockChannels() {
  FListLock.unlock();
}

std::int32_t TFTDIManager::ChannelCount() {
  std::lock_guard lock(FListLock);
  return static_cast<std::int32_t>(FChannels.size());
}

void TFTDIManager::FirstChannel(TIntfPtr<ICommunicationInterface>& Channel) {
  std::lock_guard lock(FListLock);
  FCursor = 0;
  Channel = FChannels.empty() ? nullptr : FChannels.front();
}

void TFTDIManager::NextChannel(TIntfPtr<ICommunicationInterface>& Channel) {
  std::lock_guard lock(FListLock);
  ++FCursor;
  Channel = FCursor >= 0 && static_cast<std::size_t>(FCursor) < FChannels.size()
                ? FChannels[FCursor]
                : nullptr;
}

void TFTDIManager::FindChannel(const std::string& Name,
                               TIntfPtr<ICommunicationInterface>& Channel) {
  std::lock_guard lock(FListLock);
  Channel = nullptr;
  for (const auto& candidate : FChannels)
    if (candidate->GetPortName() == Name) {
      Channel = candidate;
      return;
    }
}

void TFTDIManager::DeviceChange(std::uint32_t Event, const TDeviceBroadcast& Record) {
  try {
    std::string name;
    if (Record.DeviceType == DBT_DEVTYP_PORT)
      name = Record.Name;
    else if (Record.DeviceType == DBT_DEVTYP_DEVICEINTERFACE &&
             Record.ClassGuid == GUID_D2XX_DEVICE_CLASS)
      name = SerialNumberOfDevicePath(Record.Name);
    else
      return;
    const bool adapter = Record.DeviceType == DBT_DEVTYP_DEVICEINTERFACE;
    if (Event == DBT_DEVICEARRIVAL)
      adapter ? AdapterArrival(name) : Arrival(name);
    else if (Event == DBT_DEVICEREMOVECOMPLETE)
      adapter ? AdapterRemoval(name) : Removal(name);
  } catch (const std::exception& e) {
    ShowMessage(e.what());
  }
}

void TFTDIManager::Arrival(const std::string& Name) {
  std::lock_guard lock(FListLock);
  TIntfPtr<ICommunicationInterface> channel;
  FindChannel(Name, channel);
  if (channel) {
    channel->SetPresent(true);
  } else {
    if (Name.rfind("COM", 0) == 0)
      channel = Create<TSerialPortInterface>(Name);
    else
      channel = Create<TFTDIDevice>(Name, std::string());
    Append(channel);
  }
  if (OnChannelArrived) OnChannelArrived(channel);
}

std::vector<TIntfPtr<ICommunicationInterface>> TFTDIManager::ChannelsOfAdapter(
    const std::string& Serial) {
  std::lock_guard lock(FListLock);
  std::vector<std::string> names;
  for (const auto& channel : FChannels) names.push_back(channel->GetPortName());
  std::vector<TIntfPtr<ICommunicationInterface>> channels;
  for (const std::size_t index : PortsOfAdapter(names, Serial))
    channels.push_back(FChannels[index]);
  return channels;
}

void TFTDIManager::AdapterArrival(const std::string& Serial) {
  std::lock_guard lock(FListLock);
  if (ChannelsOfAdapter(Serial).empty()) {
    const std::vector<std::string> ports = DriverPortsOfAdapter(Serial);
    for (const std::string& port : ports) Arrival(port);
    if (ports.empty()) Arrival(Serial);
    return;
  }
  for (const auto& channel : ChannelsOfAdapter(Serial)) Arrival(channel->GetPortName());
}

void TFTDIManager::AdapterRemoval(const std::string& Serial) {
  std::lock_guard lock(FListLock);
  const auto channels = ChannelsOfAdapter(Serial);
  if (channels.empty()) Removal(Serial);
  for (const auto& channel : channels) Removal(channel->GetPortName());
}

void TFTDIManager::Removal(const std::string& Name) {
  std::lock_guard lock(FListLock);
  TIntfPtr<ICommunicationInterface> channel;
  FindChannel(Name, channel);
  if (channel) channel->SetPresent(false);
  if (OnChannelRemoved) OnChannelRemoved(channel);
}
