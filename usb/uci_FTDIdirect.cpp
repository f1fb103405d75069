#include "usb/uci_FTDIdirect.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <thread>
#include <typeindex>
#include <vector>

#include "support/uMessages.h"

// The event a driver signals when data arrive (monotonic clock, for the reader's waits).
struct TDriverEvent {
  TDriverEvent() {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&Event.Cond, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_init(&Event.Mutex, nullptr);
    Event.Value = 0;
  }
  ~TDriverEvent() {
    pthread_cond_destroy(&Event.Cond);
    pthread_mutex_destroy(&Event.Mutex);
  }
  TDriverEvent(const TDriverEvent&) = delete;
  TDriverEvent& operator=(const TDriverEvent&) = delete;
  EVENT_HANDLE Event;
};

// The reader thread of an open device. It holds the device without a count, so that an
// open device whose last reference goes is still destroyed: its destruction closes it and
// ends this thread (or, when a listener on this thread dropped that reference, tells it so).
// The thread shares ownership of this object, so that a close from a notification on the
// thread itself can let it run out on its own ("retire" it).
class TFTDIDevicecore : public std::enable_shared_from_this<TFTDIDevicecore> {
 public:
  TFTDIDevicecore(IFTDISerialPortInterface* Device, ICommunicationInterface* Channel,
                  FT_HANDLE Handle);
  ~TFTDIDevicecore();
  TFTDIDevicecore(const TFTDIDevicecore&) = delete;
  TFTDIDevicecore& operator=(const TFTDIDevicecore&) = delete;

  void Start();
  // Sets the terminate flag and the stop event: the thread ends at once.
  void Terminate();
  // From another thread: waits until the thread has ended.
  void WaitFor();
  // From the thread itself: it runs out on its own, keeping this object alive meanwhile.
  void Retire();
  // Waits until the thread's last round is over, whether it was retired or not.
  void WaitForRounds();
  bool OnReaderThread() const { return std::this_thread::get_id() == FThreadId; }
  // From the thread itself, during a round: the device has been destroyed.
  void DeviceGone() { FDeviceGone = true; }
  // Sets the data event (auto-reset), so a further notification follows.
  void SetDataEvent();
  // The driver failed to let go of the handle: its event must outlive this reader (and the
  // device), as the driver may still signal it.
  void KeepEventForDriver();

 private:
  enum class TWake { Timeout, Data, Stop };
  TWake Wait(std::chrono::milliseconds Limit);
  void Execute();

  IFTDISerialPortInterface* FDevice;
  ICommunicationInterface* FChannel;
  std::shared_ptr<TDriverEvent> FEventHolder;  // the data event, handed to the driver
  EVENT_HANDLE& FEvent;
  bool FStopped = false;  // the stop event (manual-reset), under FEvent.Mutex
  std::atomic<bool> FTerminated{false};
  bool FDeviceGone = false;  // only touched on the reader thread
  std::thread FThread;
  std::thread::id FThreadId;
  std::mutex FDoneLock;
  std::condition_variable FDoneChanged;
  bool FDone = false;
};

namespace {

std::mutex gDialogLock;
TFTDISettingsDialog gDialog;

// Events of handles the driver failed to close: kept for the rest of the run.
struct TKeptEvents {
  std::mutex Lock;
  std::vector<std::shared_ptr<TDriverEvent>> Events;
  // At exit, after the threads that kept them.
  ~TKeptEvents() {
    std::lock_guard lock(Lock);
    Events.clear();
  }
} gKeptEvents;

struct TFTDIDeviceRegistration {
  TFTDIDeviceRegistration() { RegisterChannelClass(typeid(TFTDIDevice), "FTD_USB"); }
  ~TFTDIDeviceRegistration() { UnregisterChannelClass(typeid(TFTDIDevice)); }
} FTDIDeviceRegistration;

timespec DeadlineAfter(std::chrono::milliseconds Limit) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  const long ns = t.tv_nsec + static_cast<long>(Limit.count()) * 1000000L;
  t.tv_sec += ns / 1000000000L;
  t.tv_nsec = ns % 1000000000L;
  return t;
}

// Text of a driver buffer, which may lack its terminating zero.
std::string BufferText(const char* Buffer, std::size_t Size) {
  std::size_t n = 0;
  while (n < Size && Buffer[n]) ++n;
  return std::string(Buffer, n);
}

}  // namespace

void SetFTDISettingsDialog(TFTDISettingsDialog Dialog) {
  std::lock_guard lock(gDialogLock);
  gDialog = std::move(Dialog);
}

// --- TFTDIDevicecore -------------------------------------------------------------------

TFTDIDevicecore::TFTDIDevicecore(IFTDISerialPortInterface* Device, ICommunicationInterface* Channel,
                                 FT_HANDLE Handle)
    : FDevice(Device),
      FChannel(Channel),
      FEventHolder(std::make_shared<TDriverEvent>()),
      FEvent(FEventHolder->Event) {
  const FT_STATUS status =
      FTDI().FT_SetEventNotification(Handle, FT_EVENT_RXCHAR | FT_EVENT_MODEM_STATUS, &FEvent);
  // The thread still polls every 100 ms without the driver's event.
  if (status != FT_OK) ShowMessage(std::to_string(status));
}

void TFTDIDevicecore::Start() {
  FThread = std::thread([self = shared_from_this()] { self->Execute(); });
  FThreadId = FThread.get_id();
}

TFTDIDevicecore::~TFTDIDevicecore() {
  if (FThread.joinable()) {
    Terminate();
    FThread.join();
  }
}

void TFTDIDevicecore::KeepEventForDriver() {
  std::lock_guard lock(gKeptEvents.Lock);
  gKeptEvents.Events.push_back(FEventHolder);
}

void TFTDIDevicecore::Terminate() {
  FTerminated = true;
  pthread_mutex_lock(&FEvent.Mutex);
  FStopped = true;
  pthread_cond_broadcast(&FEvent.Cond);
  pthread_mutex_unlock(&FEvent.Mutex);
}

void TFTDIDevicecore::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TFTDIDevicecore::Retire() {
  FThread.detach();
}

void TFTDIDevicecore::WaitForRounds() {
  std::unique_lock lock(FDoneLock);
  FDoneChanged.wait(lock, [this] { return FDone; });
}

void TFTDIDevicecore::SetDataEvent() {
  pthread_mutex_lock(&FEvent.Mutex);
  FEvent.Value = 1;
  pthread_cond_broadcast(&FEvent.Cond);
  pthread_mutex_unlock(&FEvent.Mutex);
}

TFTDIDevicecore::TWake TFTDIDevicecore::Wait(std::chrono::milliseconds Limit) {
  const timespec until = DeadlineAfter(Limit);
  pthread_mutex_lock(&FEvent.Mutex);
  int rc = 0;
  if (!FStopped && !FEvent.Value) rc = pthread_cond_timedwait(&FEvent.Cond, &FEvent.Mutex, &until);
  TWake wake = TWake::Timeout;
  if (FStopped)
    wake = TWake::Stop;
  else if (FEvent.Value || rc == 0)  // our own signal, or the driver's broadcast
    wake = TWake::Data;
  FEvent.Value = 0;
  pthread_mutex_unlock(&FEvent.Mutex);
  return wake;
}

void TFTDIDevicecore::Execute() {
  pthread_setname_np(pthread_self(), "kvx-usb-reader");
  // Best effort: a thread without the right to raise its priority keeps the normal one.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -10);
  bool data = false;
  while (!FTerminated) {
    if (FChannel->TryLock()) {
      if (data || FChannel->InputCount() > 0) {
        data = false;
        FDevice->NotifyDataReceived();
      }
      // A listener dropped the last reference: the device is gone, and its destruction gave
      // back the lock of this round.
      if (FDeviceGone) break;
      FChannel->Unlock();
    } else {
      std::this_thread::yield();
    }
    // A close from the notification on this thread has set the flag.
    if (FTerminated) break;
    const TWake wake = Wait(std::chrono::milliseconds(data ? 1 : 100));
    if (wake == TWake::Stop) break;
    if (wake == TWake::Data) data = true;
  }
  std::lock_guard lock(FDoneLock);
  FDone = true;
  FDoneChanged.notify_all();
}

// --- TFTDIDevice -----------------------------------------------------------------------

TFTDIDevice::TFTDIDevice(std::int32_t Index, std::string Location)
    : TSerialPortCoreInterface(std::string()), FLocation(std::move(Location)), FDeviceIndex(Index) {
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
    : TSerialPortCoreInterface(std::string()),
      FLocation(std::move(Location)),
      FSerialNumber(std::move(SerialNumber)) {}

TFTDIDevice::TFTDIDevice(std::string ConnectionString)
    : TSerialPortCoreInterface(std::move(ConnectionString)) {}

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

void TFTDIDevice::ErrorHandler(const char*, FT_STATUS Status) {
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
    // The driver answers so for an adapter that another program has open.
    SetOpenFailure(status == FT_DEVICE_NOT_OPENED ? TOpenFailure::InUse : TOpenFailure::Missing);
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
  SetBaudRate(FBaudRate);
  // Setting the speed may have found the adapter gone and closed it again.
  if (!GetActive()) return false;
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
std::string TFTDIDevice::GetDescription() {
  return GetDeviceDescription();
}

void TFTDIDevice::SetPresent(bool Value) {
  TSerialPortCoreInterface::SetPresent(Value);
  Close(true);
}

bool TFTDIDevice::ShowSettingsDialog() {
  TFTDISettingsDialog dialog;
  {
    std::lock_guard lock(gDialogLock);
    dialog = gDialog;
  }
  return dialog && dialog(GetBaudRate());
}

bool TFTDIDevice::HasSettingsDialog() {
  return true;
}

void TFTDIDevice::PurgeInput() {
  const FT_STATUS status = FTDI().FT_Purge(FHandle.load(), FT_PURGE_RX);
  if (status != FT_OK) ErrorHandler("PurgeInput", status);
}

void TFTDIDevice::PurgeOutput() {
  const FT_STATUS status = FTDI().FT_Purge(FHandle.load(), FT_PURGE_TX);
  if (status != FT_OK) ErrorHandler("PurgeOutput", status);
}

std::int32_t TFTDIDevice::GetBaudRate() {
  return FBaudRate;
}

void TFTDIDevice::SetBaudRate(std::int32_t Value) {
  TSerialPortCoreInterface::SetBaudRate(Value);  // character time; refuses 0
  {
    TChannelLock lock(*this);
    bool store = true;
    if (GetActive()) {
      const FT_STATUS status = FTDI().FT_SetBaudRate(FHandle.load(), static_cast<ULONG>(Value));
      if (status != FT_OK) {
        ErrorHandler("SetBaudRate", status);
        store = false;
      }
    }
    if (store) FBaudRate = Value;
  }
  DoSettingsChanged();
}

bool TFTDIDevice::GetRTS() {
  return FRTS;
}

void TFTDIDevice::SetRTS(bool Value) {
  TChannelLock lock(*this);
  const FT_HANDLE handle = FHandle.load();
  const FT_STATUS status = Value ? FTDI().FT_SetRts(handle) : FTDI().FT_ClrRts(handle);
  if (status != FT_OK)
    ErrorHandler("SetRTS", status);
  else
    FRTS = Value;
}

bool TFTDIDevice::GetDTR() {
  return FDTR;
}

void TFTDIDevice::SetDTR(bool Value) {
  const FT_HANDLE handle = FHandle.load();
  const FT_STATUS status = Value ? FTDI().FT_SetDtr(handle) : FTDI().FT_ClrDtr(handle);
  if (status != FT_OK)
    ErrorHandler("SetDTR", status);
  else
    FDTR = Value;
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

std::uint8_t TFTDIDevice::GetStopBits() {
  return FStopBits;
}
void TFTDIDevice::SetStopBits(std::uint8_t Value) {
  ApplyDataCharacteristics(FDataBits, Value, FParity);
}
std::uint8_t TFTDIDevice::GetParity() {
  return FParity;
}
void TFTDIDevice::SetParity(std::uint8_t Value) {
  ApplyDataCharacteristics(FDataBits, FStopBits, Value);
}
std::uint8_t TFTDIDevice::GetDataBits() {
  return FDataBits;
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
