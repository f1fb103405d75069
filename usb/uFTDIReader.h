#pragma once
// The reader thread of an open USB adapter channel: it waits for the driver's data event
// and raises the channel's data-received notification on its own thread, holding the
// channel lock.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "usb/uci_FTDIcore.h"

class ICommunicationInterface;
class IFTDISerialPortInterface;

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
