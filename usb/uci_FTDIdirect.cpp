#include "usb/uci_FTDIdirect.h"

#include <chrono>
#include <thread>
#include <typeindex>

#include "support/uLogUtils.h"
#include "support/uStringUtils.h"
#include "usb/uFTDIReader.h"
#include "usb/uUsbNode.h"

namespace {

// The adapter's speed until the first setting.
constexpr std::int32_t kAdapterBaudRate = 115200;

struct TFTDIDeviceRegistration {
  TFTDIDeviceRegistration() { RegisterChannelClass(typeid(TFTDIDevice), "FTD_USB"); }
  ~TFTDIDeviceRegistration() { UnregisterChannelClass(typeid(TFTDIDevice)); }
} FTDIDeviceRegistration;

// Text of a driver buffer, which may lack its terminating zero.
std::string BufferText(const char* Buffer, std::size_t Size) {
  std::size_t length = 0;
  while (length < Size && Buffer[length]) ++length;
  return std::string(Buffer, length);
}

}  // namespace

TFTDIDevice::TFTDIDevice(std::int32_t Index, std::string Location)
    : TKeptSettingsSerialInterface(std::string(), kAdapterBaudRate, false),
      FLocation(std::move(Location)),
      FDeviceIndex(Index) {
  DWORD count = 0;
  FT_STATUS status = FTDI().FT_CreateDeviceInfoList(&count);
  if (status == FT_OK) {
    char serial[kFTSerialNumberSize] = {};
    char description[kFTDescriptionSize] = {};
    DWORD flags = 0, type = 0, id = 0, location = 0;
    FT_HANDLE handle = nullptr;
    status = FTDI().FT_GetDeviceInfoDetail(static_cast<DWORD>(Index), &flags, &type, &id, &location,
                                           serial, description, &handle);
    if (status == FT_OK) {
      FSerialNumber = BufferText(serial, sizeof serial);
      FDescription = BufferText(description, sizeof description);
    }
  }
  if (status != FT_OK) ErrorHandler("GetDeviceInfo", status);
}

TFTDIDevice::TFTDIDevice(std::string SerialNumber, std::string Location)
    : TKeptSettingsSerialInterface(std::string(), kAdapterBaudRate, false),
      FLocation(std::move(Location)),
      FSerialNumber(std::move(SerialNumber)) {}

TFTDIDevice::TFTDIDevice(std::string ConnectionString)
    : TKeptSettingsSerialInterface(std::move(ConnectionString), kAdapterBaudRate, false) {}

TFTDIDevice::~TFTDIDevice() = default;

void TFTDIDevice::BeforeDestruction() {
  TSerialPortCoreInterface::BeforeDestruction();
  Lock();
  // Device code runs on a reader thread only within a round, which holds the lock: when a
  // listener there dropped the last reference, that round must not touch the device again.
  std::shared_ptr<TFTDIDevicecore> destroyer;
  if (FReader && FReader->OnReaderThread()) destroyer = FReader;
  for (const auto& reader : FRetiredReaders)
    if (reader->OnReaderThread()) destroyer = reader;
  Close(false);
  // A failed close leaves the reader running; it must not outlive the device.
  StopReader();
  ReapRetiredReaders();
  Unlock();
  if (destroyer) {
    destroyer->DeviceGone();
    Unlock();  // the round's
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void* TFTDIDevice::FindInterface(const TGUID& iid) {
  if (iid == IFTDISerialPortInterface::IID) return static_cast<IFTDISerialPortInterface*>(this);
  return TSerialPortCoreInterface::FindInterface(iid);
}

void TFTDIDevice::ErrorHandler(const char* Operation, FT_STATUS Status) {
  // On real hardware the failing call is what tells a driver fault from a pulled cable.
  DebugLog(Format("USB adapter %s: %s failed, status %u%s", GetSerialNumber().c_str(), Operation,
                  static_cast<unsigned>(Status), FTStatusText(Status).c_str()));
  // What the driver answers for an adapter pulled while open: the device is gone.
  if (Status == FT_IO_ERROR || Status == FT_DEVICE_NOT_FOUND) {
    if (!GetActive()) return;
    SetDeviceGone(true);
    Close(true);
  }
}

void TFTDIDevice::SetSerialNumber(std::string Value) {
  std::lock_guard lock(FTextLock);
  FSerialNumber = std::move(Value);
}

std::string TFTDIDevice::GetSerialNumber() {
  std::lock_guard lock(FTextLock);
  return FSerialNumber;
}

std::string TFTDIDevice::GetDeviceDescription() {
  std::lock_guard lock(FTextLock);
  return FDescription;
}

std::int32_t TFTDIDevice::GetDeviceIndex() {
  return FDeviceIndex;
}
std::string TFTDIDevice::GetLocation() {
  return FLocation;
}
FT_HANDLE TFTDIDevice::GetDriverHandle() {
  return FHandle.load();
}
void TFTDIDevice::NotifyDataReceived() {
  DoDataReceived();
}
bool TFTDIDevice::ResetDevice() {
  return FTDI().FT_ResetDevice(FHandle.load()) == FT_OK;
}
bool TFTDIDevice::EraseEeprom() {
  return FTDI().FT_EraseEE(FHandle.load()) == FT_OK;
}

std::string TFTDIDevice::GetConnectionString() {
  std::string text = "provider=FTD_USB;serial_number=" + GetSerialNumber();
  const std::string settings = TSerialPortCoreInterface::GetConnectionString();
  if (!settings.empty()) text += ";" + settings;
  return text;
}

void TFTDIDevice::SetConnectionString(const std::string& Text) {
  const bool wasActive = GetActive();
  SetActive(false);
  std::string serial;
  if (FindConnectionValue(Text, "serial_number", serial)) SetSerialNumber(serial);
  SetActive(wasActive);
  TSerialPortCoreInterface::SetConnectionString(Text);
  DoSettingsChanged();
}

bool TFTDIDevice::GetActive() {
  return FHandle.load() != nullptr;
}

bool TFTDIDevice::Open() {
  TChannelLock lock(*this);
  std::string serial = GetSerialNumber();
  if (GetActive() || serial.empty()) return false;
  FT_HANDLE handle = nullptr;
  const FT_STATUS status = FTDI().FT_OpenEx(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  if (status != FT_OK || !handle) {
    SetOpenFailure(status == FT_DEVICE_NOT_OPENED ? RefusalOf(GetDeviceNode())
                                                  : TOpenFailure::Missing);
    ErrorHandler("Open", status);
    return false;
  }
  SetOpenFailure(TOpenFailure::None);
  FHandle = handle;
  SetDeviceGone(false);
  FTDI().FT_ResetDevice(handle);
  ReapRetiredReaders();
  // A reader left by a failed close waits on the old handle's event: the new handle needs its own.
  StopReader();
  FReader =
      std::make_shared<TFTDIDevicecore>(this, static_cast<ICommunicationInterface*>(this), handle);
  FReader->Start();
  if (!ApplyBaudRate(FBaudRate)) {
    // The channel would claim a speed the adapter does not have.
    Close(true);
    return false;
  }
  DoOpened();
  return true;
}

bool TFTDIDevice::Close(bool Force) {
  TChannelLock lock(*this);
  if (!GetActive()) return true;
  const FT_STATUS status = FTDI().FT_Close(FHandle.exchange(nullptr));
  const bool closed = status == FT_OK;
  // The driver still holds the event of a handle it failed to close, and may signal it.
  if (!closed && FReader) FReader->KeepEventForDriver();
  if (!closed && !Force) {
    ErrorHandler("Close", status);
    return closed;
  }
  StopReader();
  DoClosed();
  return closed;
}

void TFTDIDevice::StopReader() {
  if (!FReader) return;
  FReader->Terminate();
  if (FReader->OnReaderThread()) {
    // Called from a notification on the reader thread: it cannot wait for itself.
    FReader->Retire();
    FRetiredReaders.push_back(std::move(FReader));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } else {
    FReader->WaitFor();
    FReader.reset();
  }
}

void TFTDIDevice::ReapRetiredReaders() {
  // A retired reader may still be ending its round with this device; the one whose
  // notification is running right now cannot be waited for.
  std::erase_if(FRetiredReaders, [](const std::shared_ptr<TFTDIDevicecore>& reader) {
    if (reader->OnReaderThread()) return false;
    reader->WaitForRounds();
    return true;
  });
}

std::int32_t TFTDIDevice::Write(const std::string& Data) {
  TChannelLock lock(*this);
  if (!GetActive() || DeviceGone()) return 0;
  Trace(TRACE_WRITTEN, Data);
  DWORD written = 0;
  const FT_STATUS status = FTDI().FT_Write(FHandle.load(), const_cast<char*>(Data.data()),
                                           static_cast<DWORD>(Data.size()), &written);
  if (status != FT_OK) {
    ErrorHandler("Write", status);
    return 0;
  }
  return static_cast<std::int32_t>(written);
}

void TFTDIDevice::Read(std::string& Data) {
  Data.clear();
  TChannelLock lock(*this);
  if (GetActive()) {
    DWORD waiting = 0;
    FT_STATUS status = FTDI().FT_GetQueueStatus(FHandle.load(), &waiting);
    if (status != FT_OK) {
      ErrorHandler("Read", status);
    } else {
      if (waiting > 0) {
        Data.resize(waiting);
        DWORD read = 0;
        status = FTDI().FT_Read(FHandle.load(), Data.data(), waiting, &read);
        Data.resize(status == FT_OK ? std::min(read, waiting) : 0);
        if (status != FT_OK) ErrorHandler("Read", status);
      }
      // Bytes left (or arrived meanwhile) get a notification of their own.
      if (GetActive() && FTDI().FT_GetQueueStatus(FHandle.load(), &waiting) == FT_OK &&
          waiting > 0 && FReader)
        FReader->SetDataEvent();
    }
  }
  Trace(TRACE_READ, Data);
}

std::int32_t TFTDIDevice::InputCount() {
  TChannelLock lock(*this);
  if (DeviceGone()) return -1;
  if (!GetActive()) return 0;
  DWORD waiting = 0;
  const FT_STATUS status = FTDI().FT_GetQueueStatus(FHandle.load(), &waiting);
  if (status != FT_OK) {
    ErrorHandler("InputCount", status);
    return DeviceGone() ? -1 : 0;
  }
  return static_cast<std::int32_t>(waiting);
}

std::string TFTDIDevice::GetPortName() {
  return GetSerialNumber();
}
std::string TFTDIDevice::GetDeviceNode() {
  return UsbDeviceNode(GetSerialNumber());
}

std::string TFTDIDevice::GetDescription() {
  return GetDeviceDescription();
}

void TFTDIDevice::SetPresent(bool Value) {
  TSerialPortCoreInterface::SetPresent(Value);
  Close(true);
}

void TFTDIDevice::PurgeInput() {
  const FT_STATUS status = FTDI().FT_Purge(FHandle.load(), FT_PURGE_RX);
  if (status != FT_OK) ErrorHandler("PurgeInput", status);
}

void TFTDIDevice::PurgeOutput() {
  const FT_STATUS status = FTDI().FT_Purge(FHandle.load(), FT_PURGE_TX);
  if (status != FT_OK) ErrorHandler("PurgeOutput", status);
}

void TFTDIDevice::SetBaudRate(std::int32_t Value) {
  ApplyBaudRate(Value);
  DoSettingsChanged();
}

bool TFTDIDevice::ApplyBaudRate(std::int32_t Value) {
  TSerialPortCoreInterface::SetBaudRate(Value);  // character time; refuses 0
  TChannelLock lock(*this);
  if (GetActive()) {
    const FT_STATUS status = FTDI().FT_SetBaudRate(FHandle.load(), static_cast<ULONG>(Value));
    if (status != FT_OK) {
      ErrorHandler("SetBaudRate", status);
      return false;
    }
  }
  FBaudRate = Value;
  return true;
}

void TFTDIDevice::SetRTS(bool Value) {
  SetControlLine(FRTS, Value, "SetRTS",
                 Value ? &TFTDIBinding::FT_SetRts : &TFTDIBinding::FT_ClrRts);
}

void TFTDIDevice::SetDTR(bool Value) {
  SetControlLine(FDTR, Value, "SetDTR",
                 Value ? &TFTDIBinding::FT_SetDtr : &TFTDIBinding::FT_ClrDtr);
}

void TFTDIDevice::SetControlLine(std::atomic<bool>& Line, bool Value, const char* Operation,
                                 TLineCall Call) {
  TChannelLock lock(*this);
  const FT_STATUS status = (FTDI().*Call)(FHandle.load());
  if (status != FT_OK)
    ErrorHandler(Operation, status);
  else
    Line = Value;
}

bool TFTDIDevice::GetCTS() {
  return false;
}
bool TFTDIDevice::GetDSR() {
  return false;
}

void TFTDIDevice::ApplyDataCharacteristics(std::uint8_t DataBits, std::uint8_t StopBits,
                                           std::uint8_t Parity) {
  const std::uint8_t oldData = FDataBits.exchange(DataBits);
  const std::uint8_t oldStop = FStopBits.exchange(StopBits);
  const std::uint8_t oldParity = FParity.exchange(Parity);
  const FT_STATUS status =
      FTDI().FT_SetDataCharacteristics(FHandle.load(), DataBits, StopBits, Parity);
  if (status != FT_OK) {
    FDataBits = oldData;
    FStopBits = oldStop;
    FParity = oldParity;
    ErrorHandler("SetDataCharacteristics", status);
  }
  DoSettingsChanged();
}

void TFTDIDevice::SetStopBits(std::uint8_t Value) {
  ApplyDataCharacteristics(FDataBits, Value, FParity);
}
void TFTDIDevice::SetParity(std::uint8_t Value) {
  ApplyDataCharacteristics(FDataBits, FStopBits, Value);
}
void TFTDIDevice::SetDataBits(std::uint8_t Value) {
  ApplyDataCharacteristics(Value, FStopBits, FParity);
}

std::int32_t TFTDIDevice::GetOutBufSize() {
  return 0;
}
void TFTDIDevice::SetOutBufSize(std::int32_t) {}
std::int32_t TFTDIDevice::GetInBufSize() {
  return 0;
}
void TFTDIDevice::SetInBufSize(std::int32_t) {}
