// A stand-in for the adapter driver library: the same entry points and conventions, with
// adapters that the test configures through FakeFtdi.h. Each open adapter may have a
// simulated far end (ISimPeer); a pump thread signals the adapter's event handle when the
// far end's bytes become due, as the driver does when data arrive.
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/usb/fake_ftd2xx/FakePtyPeer.h"
#include "usb/uci_FTDIcore.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Clock = ISimPeer::Clock;

struct TAdapter {
  std::string Serial;
  std::string Description;
  ISimPeer* Peer = nullptr;
  TFakePtyPeer* Line = nullptr;  // the peer, when it is a tty from the environment
  bool Plugged = true;
  std::uintptr_t Handle = 0;  // 0 while closed
  std::uint32_t Baud = 0;
  bool Dtr = false;
  bool Rts = false;
  UCHAR WordLength = 8, StopBits = 0, Parity = 0;
  std::string Received;  // due bytes not yet read
  EVENT_HANDLE* Event = nullptr;
  std::size_t Signalled = 0;    // bytes waiting when the event was last signalled
  std::uint32_t ReadChunk = 0;  // most bytes one FT_Read hands out; 0 no limit
};

class TFake {
 public:
  ~TFake() { StopPump(); }

  std::mutex Mutex;
  std::vector<TAdapter> Adapters;
  std::vector<std::size_t> InfoList;  // adapter positions captured by FT_CreateDeviceInfoList
  std::map<std::string, FT_STATUS> Failures;
  std::map<std::string, int> Calls;
  std::uintptr_t NextHandle = 0x100;
  std::vector<std::unique_ptr<TFakePtyPeer>> OwnedPeers;  // far ends from the environment

  // Counts the call; the injected status, or FT_OK to go on.
  FT_STATUS Enter(const char* name) {
    ++Calls[name];
    auto it = Failures.find(name);
    return it == Failures.end() ? FT_OK : it->second;
  }

  TAdapter* BySerial(const std::string& serial) {
    for (auto& a : Adapters)
      if (a.Serial == serial) return &a;
    return nullptr;
  }

  // The adapter behind an open handle, or the status that the call fails with.
  FT_STATUS ByHandle(FT_HANDLE handle, TAdapter*& adapter) {
    adapter = nullptr;
    const auto id = reinterpret_cast<std::uintptr_t>(handle);
    if (id == 0) return FT_INVALID_HANDLE;
    for (auto& a : Adapters)
      if (a.Handle == id) {
        adapter = &a;
        if (a.Line && a.Line->HungUp()) a.Plugged = false;  // its cable was pulled
        return a.Plugged ? FT_OK : FT_IO_ERROR;
      }
    return FT_INVALID_HANDLE;
  }

  std::vector<TAdapter*> Plugged() {
    std::vector<TAdapter*> list;
    for (auto& a : Adapters)
      if (a.Plugged) list.push_back(&a);
    return list;
  }

  // Moves the far end's due bytes into the receive queue.
  static void Pull(TAdapter& a, Clock::time_point now) {
    if (a.Peer) a.Received += a.Peer->Read(now);
  }

  static void Signal(TAdapter& a) {
    if (!a.Event) return;
    pthread_mutex_lock(&a.Event->Mutex);
    pthread_cond_broadcast(&a.Event->Cond);
    pthread_mutex_unlock(&a.Event->Mutex);
    a.Signalled = a.Received.size();
  }

  // Called with Mutex held.
  void StartPump() {
    if (FPump.joinable()) return;
    FStop = false;
    FPump = std::thread([this] { Pump(); });
  }

  void WakePump() { FWake.notify_all(); }

  // Called without Mutex held.
  void StopPump() {
    {
      std::lock_guard lock(Mutex);
      FStop = true;
    }
    FWake.notify_all();
    if (FPump.joinable()) FPump.join();
  }

 private:
  void Pump() {
    std::unique_lock lock(Mutex);
    while (!FStop) {
      const auto now = Clock::now();
      std::optional<Clock::time_point> next;
      for (auto& a : Adapters) {
        if (!a.Handle || !a.Plugged) continue;
        Pull(a, now);
        if (a.Received.size() > a.Signalled) Signal(a);
        if (a.Peer)
          if (auto due = a.Peer->NextDue()) next = next ? std::min(*next, *due) : *due;
      }
      if (next)
        FWake.wait_until(lock, std::max(*next, now + std::chrono::microseconds(200)));
      else
        FWake.wait(lock);
    }
  }

  std::condition_variable FWake;
  std::thread FPump;
  bool FStop = false;
};

TFake& Fake() {
  static TFake fake;
  return fake;
}

// Entry with a handle: counts the call, applies injected failures, finds the adapter.
#define ENTER_HANDLE(name)                                 \
  TFake& f = Fake();                                       \
  std::lock_guard lock(f.Mutex);                           \
  if (FT_STATUS injected = f.Enter(name)) return injected; \
  TAdapter* a = nullptr;                                   \
  if (FT_STATUS status = f.ByHandle(handle, a)) return status;

#define ENTER(name)              \
  TFake& f = Fake();             \
  std::lock_guard lock(f.Mutex); \
  if (FT_STATUS injected = f.Enter(name)) return injected;

FT_STATUS OpenAdapter(TFake& f, TAdapter* a, FT_HANDLE* handle) {
  if (!handle) return FT_INVALID_PARAMETER;
  if (!a || !a->Plugged) return FT_DEVICE_NOT_FOUND;
  if (a->Handle) return FT_DEVICE_NOT_OPENED;  // in use
  a->Handle = f.NextHandle++;
  a->Received.clear();
  a->Signalled = 0;
  *handle = reinterpret_cast<FT_HANDLE>(a->Handle);
  return FT_OK;
}

}  // namespace

FAKE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
  ENTER_HANDLE("FT_Write");
  if (!buffer || !written) return FT_INVALID_PARAMETER;
  if (a->Peer) a->Peer->Write({static_cast<const char*>(buffer), count}, a->Baud, Clock::now());
  *written = count;
  f.WakePump();
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Open(int index, FT_HANDLE* handle) {
  ENTER("FT_Open");
  auto plugged = f.Plugged();
  if (index < 0 || static_cast<std::size_t>(index) >= plugged.size()) return FT_DEVICE_NOT_FOUND;
  return OpenAdapter(f, plugged[index], handle);
}

FAKE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  if (FT_STATUS injected = f.Enter("FT_Close")) return injected;
  TAdapter* a = nullptr;
  f.ByHandle(handle, a);  // an unplugged adapter's handle is released all the same
  if (!a) return FT_INVALID_HANDLE;
  a->Handle = 0;
  a->Event = nullptr;  // the event belongs to the caller and may go away now
  a->Received.clear();
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) {
  ENTER_HANDLE("FT_Read");
  if (!buffer || !read) return FT_INVALID_PARAMETER;
  TFake::Pull(*a, Clock::now());
  std::size_t n = std::min<std::size_t>(count, a->Received.size());
  if (a->ReadChunk) n = std::min<std::size_t>(n, a->ReadChunk);
  std::memcpy(buffer, a->Received.data(), n);
  a->Received.erase(0, n);
  a->Signalled = a->Received.size();
  *read = static_cast<DWORD>(n);
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG rate) {
  ENTER_HANDLE("FT_SetBaudRate");
  if (rate == 0 || rate > 3000000) return FT_INVALID_PARAMETER;
  a->Baud = rate;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                UCHAR parity) {
  ENTER_HANDLE("FT_SetDataCharacteristics");
  if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4)
    return FT_INVALID_PARAMETER;
  a->WordLength = wordLength;
  a->StopBits = stopBits;
  a->Parity = parity;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT, UCHAR, UCHAR) {
  ENTER_HANDLE("FT_SetFlowControl");
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  ENTER_HANDLE("FT_ResetDevice");
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetDtr(FT_HANDLE handle) {
  ENTER_HANDLE("FT_SetDtr");
  a->Dtr = true;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ClrDtr(FT_HANDLE handle) {
  ENTER_HANDLE("FT_ClrDtr");
  a->Dtr = false;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetRts(FT_HANDLE handle) {
  ENTER_HANDLE("FT_SetRts");
  a->Rts = true;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ClrRts(FT_HANDLE handle) {
  ENTER_HANDLE("FT_ClrRts");
  a->Rts = false;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG* status) {
  ENTER_HANDLE("FT_GetModemStatus");
  if (!status) return FT_INVALID_PARAMETER;
  *status = 0;
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR, UCHAR, UCHAR, UCHAR) {
  ENTER_HANDLE("FT_SetChars");
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) {
  ENTER_HANDLE("FT_Purge");
  if (mask & FT_PURGE_RX) {
    TFake::Pull(*a, Clock::now());
    a->Received.clear();
    a->Signalled = 0;
  }
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG, ULONG) {
  ENTER_HANDLE("FT_SetTimeouts");
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* waiting) {
  ENTER_HANDLE("FT_GetQueueStatus");
  if (!waiting) return FT_INVALID_PARAMETER;
  TFake::Pull(*a, Clock::now());
  *waiting = static_cast<DWORD>(a->Received.size());
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_ListDevices(void* arg1, void*, DWORD flags) {
  ENTER("FT_ListDevices");
  // Only the device count is offered; the program asks for nothing else.
  if (!(flags & FT_LIST_NUMBER_ONLY) || !arg1) return FT_INVALID_PARAMETER;
  *static_cast<DWORD*>(arg1) = static_cast<DWORD>(f.Plugged().size());
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  ENTER("FT_OpenEx");
  if (flags != FT_OPEN_BY_SERIAL_NUMBER || !arg) return FT_INVALID_PARAMETER;
  return OpenAdapter(f, f.BySerial(static_cast<const char*>(arg)), handle);
}

FAKE_EXPORT FT_STATUS FT_GetDeviceInfoList(void*, DWORD*) {
  ENTER("FT_GetDeviceInfoList");
  return FT_INVALID_PARAMETER;  // the record layout is not offered; the program never asks
}

FAKE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
  ENTER("FT_CreateDeviceInfoList");
  if (!count) return FT_INVALID_PARAMETER;
  f.InfoList.clear();
  for (std::size_t i = 0; i < f.Adapters.size(); ++i)
    if (f.Adapters[i].Plugged) f.InfoList.push_back(i);
  *count = static_cast<DWORD>(f.InfoList.size());
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                             DWORD* locationId, void* serialNumber,
                                             void* description, FT_HANDLE* handle) {
  ENTER("FT_GetDeviceInfoDetail");
  if (index >= f.InfoList.size()) return FT_DEVICE_NOT_FOUND;
  const TAdapter& a = f.Adapters[f.InfoList[index]];
  if (flags) *flags = a.Handle ? 1 : 0;
  if (type) *type = 5;
  if (id) *id = 0x04036001;
  if (locationId) *locationId = 0x11 + index;
  if (serialNumber) {
    auto* out = static_cast<char*>(serialNumber);
    const std::size_t n = std::min(a.Serial.size(), kFTSerialNumberSize - 1);
    std::memcpy(out, a.Serial.data(), n);
    out[n] = 0;
  }
  if (description) {
    auto* out = static_cast<char*>(description);
    const std::size_t n = std::min(a.Description.size(), kFTDescriptionSize - 1);
    std::memcpy(out, a.Description.data(), n);
    out[n] = 0;
  }
  if (handle) *handle = reinterpret_cast<FT_HANDLE>(a.Handle);
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* event) {
  ENTER_HANDLE("FT_SetEventNotification");
  if (!event || !(mask & (FT_EVENT_RXCHAR | FT_EVENT_MODEM_STATUS))) return FT_INVALID_PARAMETER;
  a->Event = static_cast<EVENT_HANDLE*>(event);
  a->Signalled = 0;
  f.StartPump();
  f.WakePump();
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_EraseEE(FT_HANDLE handle) {
  ENTER_HANDLE("FT_EraseEE");
  return FT_OK;
}

FAKE_EXPORT FT_STATUS FT_EE_Read(FT_HANDLE handle, void*) {
  ENTER_HANDLE("FT_EE_Read");
  return FT_INVALID_PARAMETER;  // no EEPROM image is simulated
}

FAKE_EXPORT FT_STATUS FT_EE_Program(FT_HANDLE handle, void*) {
  ENTER_HANDLE("FT_EE_Program");
  return FT_INVALID_PARAMETER;  // no EEPROM image is simulated
}

FAKE_EXPORT void FakeFtdi_Reset() {
  TFake& f = Fake();
  f.StopPump();
  std::lock_guard lock(f.Mutex);
  f.Adapters.clear();
  f.InfoList.clear();
  f.Failures.clear();
  f.Calls.clear();
  f.OwnedPeers.clear();
}

FAKE_EXPORT int FakeFtdi_LoadEnvironment() {
  const char* env = std::getenv("KVX_FAKE_FTDI");
  std::string_view text = env ? env : "";
  int added = 0;
  while (!text.empty()) {
    const std::size_t end = text.find(';');
    const std::string item(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    std::string name = item.substr(0, eq);
    const std::string line = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    const std::size_t colon = name.find(':');
    const std::string description = colon == std::string::npos ? "" : name.substr(colon + 1);
    name = name.substr(0, colon);
    if (name.empty() || line.empty() || name.size() >= kFTSerialNumberSize) {
      std::fprintf(stderr, "KVX_FAKE_FTDI: malformed entry \"%s\" (expected SERIAL=LINE)\n",
                   item.c_str());
      continue;
    }
    auto peer = std::make_unique<TFakePtyPeer>(line);
    if (!peer->Ok()) {
      std::fprintf(stderr, "KVX_FAKE_FTDI: cannot open %s for adapter %s\n", line.c_str(),
                   name.c_str());
      continue;
    }
    FakeFtdi_AddAdapter(name.c_str(), description.c_str(), peer.get());
    TFake& f = Fake();
    std::lock_guard lock(f.Mutex);
    f.BySerial(name)->Line = peer.get();
    f.OwnedPeers.push_back(std::move(peer));
    ++added;
  }
  return added;
}

namespace {
__attribute__((constructor)) void LoadEnvironmentAtStart() {
  FakeFtdi_LoadEnvironment();
}
}  // namespace

FAKE_EXPORT int FakeFtdi_AddAdapter(const char* serialNumber, const char* description,
                                    ISimPeer* peer) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  TAdapter a;
  a.Serial = serialNumber ? serialNumber : "";
  a.Description = description ? description : "";
  a.Peer = peer;
  f.Adapters.push_back(std::move(a));
  return static_cast<int>(f.Plugged().size()) - 1;
}

FAKE_EXPORT void FakeFtdi_Unplug(const char* serialNumber) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  if (TAdapter* a = f.BySerial(serialNumber)) a->Plugged = false;
}

FAKE_EXPORT void FakeFtdi_Plug(const char* serialNumber) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  if (TAdapter* a = f.BySerial(serialNumber)) a->Plugged = true;
}

FAKE_EXPORT void FakeFtdi_FailEntry(const char* entryName, std::uint32_t status) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  if (status)
    f.Failures[entryName] = status;
  else
    f.Failures.erase(entryName);
}

FAKE_EXPORT int FakeFtdi_CallCount(const char* entryName) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  auto it = f.Calls.find(entryName);
  return it == f.Calls.end() ? 0 : it->second;
}

FAKE_EXPORT std::uint32_t FakeFtdi_BaudRate(const char* serialNumber) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  const TAdapter* a = f.BySerial(serialNumber);
  return a ? a->Baud : 0;
}

FAKE_EXPORT bool FakeFtdi_IsOpen(const char* serialNumber) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  const TAdapter* a = f.BySerial(serialNumber);
  return a && a->Handle != 0;
}

FAKE_EXPORT void FakeFtdi_SetReadChunk(const char* serialNumber, std::uint32_t count) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  if (TAdapter* a = f.BySerial(serialNumber)) a->ReadChunk = count;
}

FAKE_EXPORT void FakeFtdi_Receive(const char* serialNumber, const char* data,
                                  std::uint32_t length) {
  TFake& f = Fake();
  std::lock_guard lock(f.Mutex);
  TAdapter* a = f.BySerial(serialNumber);
  if (!a || !a->Handle) return;
  a->Received.append(data, length);
  TFake::Signal(*a);
}
