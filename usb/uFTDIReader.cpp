#include "usb/uFTDIReader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "support/uMessages.h"
#include "usb/uci_FTDIdirect.h"

namespace {

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

timespec DeadlineAfter(std::chrono::milliseconds Limit) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const long nanoseconds = deadline.tv_nsec + static_cast<long>(Limit.count()) * 1000000L;
  deadline.tv_sec += nanoseconds / 1000000000L;
  deadline.tv_nsec = nanoseconds % 1000000000L;
  return deadline;
}

}  // namespace

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
