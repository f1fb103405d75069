#pragma once
// The channel of one USB serial adapter driven directly through the adapter driver library
// (not through a tty). The adapter is identified and opened by its serial number; a reader
// thread waits for the driver's data event and raises the data-received notification on
// its own thread, holding the channel lock.
//
//   auto byIndex = Create<TFTDIDevice>(2, "");             // from the driver's device list
//   auto bySerial = Create<TFTDIDevice>("FT1234", "");     // serial number, location
//   auto byString = Create<TFTDIDevice>("provider=FTD_USB;serial_number=FT1234");
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/uci_ISerialPortInterface.h"
#include "usb/uci_FTDIcore.h"

class IFTDISerialPortInterface : public virtual ISerialPortInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{CBFAE6C0-8E72-4D7F-8C51-C36038E6F5F5}");

  virtual std::string GetSerialNumber() = 0;       // same as GetPortName
  virtual std::string GetDeviceDescription() = 0;  // same as GetDescription
  virtual std::int32_t GetDeviceIndex() = 0;       // -1 unless made from the device list
  virtual std::string GetLocation() = 0;
  virtual FT_HANDLE GetDriverHandle() = 0;  // null while closed
  virtual void NotifyDataReceived() = 0;
  virtual bool ResetDevice() = 0;
  virtual bool EraseEeprom() = 0;

 protected:
  ~IFTDISerialPortInterface() = default;
};

class TFTDIDevicecore;

class TFTDIDevice : public TKeptSettingsSerialInterface, public IFTDISerialPortInterface {
 public:
  // From the driver's device list: reads serial number and description of entry Index.
  TFTDIDevice(std::int32_t Index, std::string Location);
  TFTDIDevice(std::string SerialNumber, std::string Location);
  explicit TFTDIDevice(std::string ConnectionString = {});
  ~TFTDIDevice() override;

  // IFTDISerialPortInterface
  std::string GetSerialNumber() override;
  std::string GetDeviceDescription() override;
  std::int32_t GetDeviceIndex() override;
  std::string GetLocation() override;
  FT_HANDLE GetDriverHandle() override;
  void NotifyDataReceived() override;
  bool ResetDevice() override;
  bool EraseEeprom() override;

  // Channel contract
  // "provider=FTD_USB;serial_number=<serial>;" followed by the serial settings.
  std::string GetConnectionString() override;
  // A changed serial number re-opens an open device as the other adapter.
  void SetConnectionString(const std::string& Text) override;
  bool GetActive() override;
  bool Open() override;
  bool Close(bool Force) override;
  std::int32_t Write(const std::string& Data) override;
  void Read(std::string& Data) override;
  std::int32_t InputCount() override;
  std::string GetPortName() override;
  std::string GetDeviceNode() override;
  std::string GetDescription() override;
  void SetPresent(bool Value) override;
  void PurgeInput() override;
  void PurgeOutput() override;

  // Serial settings
  void SetBaudRate(std::int32_t Value) override;
  void SetRTS(bool Value) override;
  void SetDTR(bool Value) override;
  bool GetCTS() override;
  bool GetDSR() override;
  void SetStopBits(std::uint8_t Value) override;
  void SetParity(std::uint8_t Value) override;
  void SetDataBits(std::uint8_t Value) override;
  std::int32_t GetOutBufSize() override;
  void SetOutBufSize(std::int32_t Value) override;
  std::int32_t GetInBufSize() override;
  void SetInBufSize(std::int32_t Value) override;

 protected:
  void* FindInterface(const TGUID& iid) override;
  void BeforeDestruction() override;

 private:
  // A failing driver call, named by Operation in the trace: FT_IO_ERROR and
  // FT_DEVICE_NOT_FOUND close the device as gone, other statuses change nothing.
  void ErrorHandler(const char* Operation, FT_STATUS Status);
  // Sends data bits, stop bits and parity; on failure the previous values come back.
  void ApplyDataCharacteristics(std::uint8_t DataBits, std::uint8_t StopBits, std::uint8_t Parity);
  using TLineCall = FT_STATUS (TFTDIBinding::*)(FT_HANDLE) const;
  // Sets or clears a modem control line through Call; the stored state follows on success.
  // False when the open adapter refused the speed (which then stays as it was).
  bool ApplyBaudRate(std::int32_t Value);
  void SetControlLine(std::atomic<bool>& Line, bool Value, const char* Operation, TLineCall Call);
  void StopReader();
  void ReapRetiredReaders();
  void SetSerialNumber(std::string Value);

  std::atomic<FT_HANDLE> FHandle{nullptr};
  std::string FLocation;
  // Under the channel lock: the reader thread, and those closed from their own notification.
  std::shared_ptr<TFTDIDevicecore> FReader;
  std::vector<std::shared_ptr<TFTDIDevicecore>> FRetiredReaders;
  mutable std::mutex FTextLock;  // the two texts below
  std::string FSerialNumber;
  std::string FDescription;
  std::int32_t FDeviceIndex = -1;
};
