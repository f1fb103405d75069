#pragma once
// The list of every channel the machine offers: a COM port channel for each COM port that
// exists and a USB channel for each adapter the driver library reports. It is rebuilt on
// request, follows ports and adapters that come and go, and tells the main window about
// them through two callbacks. One manager per process, used on the main thread only. A
// channel whose device goes away while open (a hung-up line, a pulled adapter) counts as
// removed, whether or not a device notification follows.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/uci_ICommunicationInterface.h"
#include "usb/uDeviceChange.h"

class TFTDIManager {
 public:
  // Starts following device changes where the platform offers them.
  TFTDIManager();
  // Stops following device changes and releases every channel (closing open ones).
  ~TFTDIManager();
  TFTDIManager(const TFTDIManager&) = delete;
  TFTDIManager& operator=(const TFTDIManager&) = delete;

  // COM ports 1-255 that exist or name a serial device server, in ascending order, then the
  // driver's adapters from the highest index down. 0 when the adapter count could be read, -1
  // otherwise.
  std::int32_t RebuildChannels();
  void LockChannels();
  void UnlockChannels();
  std::int32_t ChannelCount();
  // Empty when the list is empty / the cursor has passed the last entry.
  void FirstChannel(TIntfPtr<ICommunicationInterface>& Channel);
  void NextChannel(TIntfPtr<ICommunicationInterface>& Channel);
  // The first channel whose port name is Name (case-sensitive), or empty.
  void FindChannel(const std::string& Name, TIntfPtr<ICommunicationInterface>& Channel);

  // Device-change notification (main thread). Failures go to the operator's message box.
  void DeviceChange(std::uint32_t Event, const TDeviceBroadcast& Record);
  // Whether device changes are being followed.
  bool Notifications() const { return FMonitor && FMonitor->Running(); }

  // Called with the list locked; set by the main window, cleared before destruction.
  TCiNotify OnChannelArrived;
  TCiNotify OnChannelRemoved;  // the channel may be empty

 private:
  struct TGoneWatch;

  void Append(TIntfPtr<ICommunicationInterface> Channel);
  void ClearChannels();
  void Arrival(const std::string& Name);
  void Removal(const std::string& Name);
  // An adapter's notification names its serial number; a two- or four-port chip lists its
  // ports as that number and a letter, and each of them comes and goes with it.
  std::vector<TIntfPtr<ICommunicationInterface>> ChannelsOfAdapter(const std::string& Serial);
  void AdapterArrival(const std::string& Serial);
  void AdapterRemoval(const std::string& Serial);

  std::shared_ptr<TGoneWatch> FGoneWatch;
  std::unique_ptr<TDeviceMonitor> FMonitor;
  std::recursive_mutex FListLock;
  std::vector<TIntfPtr<ICommunicationInterface>> FChannels;
  std::int32_t FCursor = 0;
};

// Holds the manager's list lock for a scope.
class TChannelListLock {
 public:
  explicit TChannelListLock(TFTDIManager& Manager) : FManager(Manager) { FManager.LockChannels(); }
  ~TChannelListLock() { FManager.UnlockChannels(); }
  TChannelListLock(const TChannelListLock&) = delete;
  TChannelListLock& operator=(const TChannelListLock&) = delete;

 private:
  TFTDIManager& FManager;
};
