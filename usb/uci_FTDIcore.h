#pragma once
// Binding to the adapter driver library, loaded at run time rather than linked, so the
// program runs (without USB adapters) where the library is not installed. Every call goes
// through a guard that answers kFTNotAvailable when the library or the entry point is missing.
#include <pthread.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;

// The event the driver signals when data arrive: the driver broadcasts the condition
// variable under the mutex. Value is ours: a waiter sets it to signal itself without a
// waiting thread losing the wake-up.
struct EVENT_HANDLE {
  pthread_cond_t Cond;
  pthread_mutex_t Mutex;
  int Value;
};

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
// Not a driver status: the guard did not call because the entry point is missing.
inline constexpr FT_STATUS kFTNotAvailable = 0xFFFF;

inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
inline constexpr ULONG FT_PURGE_RX = 1;
inline constexpr ULONG FT_PURGE_TX = 2;
inline constexpr DWORD FT_EVENT_RXCHAR = 1;
inline constexpr DWORD FT_EVENT_MODEM_STATUS = 2;
inline constexpr std::size_t kFTSerialNumberSize = 16;
inline constexpr std::size_t kFTDescriptionSize = 64;

// Entry point types (the library's calling conventions on this platform).
using TFT_Write = FT_STATUS (*)(FT_HANDLE, void*, DWORD, DWORD*);
using TFT_Close = FT_STATUS (*)(FT_HANDLE);
using TFT_Read = FT_STATUS (*)(FT_HANDLE, void*, DWORD, DWORD*);
using TFT_SetBaudRate = FT_STATUS (*)(FT_HANDLE, ULONG);
using TFT_SetDataCharacteristics = FT_STATUS (*)(FT_HANDLE, UCHAR, UCHAR, UCHAR);
using TFT_HandleOnly = FT_STATUS (*)(FT_HANDLE);
using TFT_Purge = FT_STATUS (*)(FT_HANDLE, ULONG);
using TFT_GetQueueStatus = FT_STATUS (*)(FT_HANDLE, DWORD*);
using TFT_ListDevices = FT_STATUS (*)(void*, void*, DWORD);
using TFT_OpenEx = FT_STATUS (*)(void*, DWORD, FT_HANDLE*);
using TFT_CreateDeviceInfoList = FT_STATUS (*)(DWORD*);
using TFT_GetDeviceInfoDetail = FT_STATUS (*)(DWORD, DWORD*, DWORD*, DWORD*, DWORD*, void*, void*,
                                              FT_HANDLE*);
using TFT_SetEventNotification = FT_STATUS (*)(FT_HANDLE, DWORD, void*);

// The entry points the binding looks up; the position is the slot. FT_ListDevices fills
// three slots, one for each way the driver's list is asked for.
inline constexpr std::array<std::string_view, 28> kFTEntryPoints = {
    "FT_Write",
    "FT_Open",
    "FT_Close",
    "FT_Read",
    "FT_SetBaudRate",
    "FT_SetDataCharacteristics",
    "FT_SetFlowControl",
    "FT_ResetDevice",
    "FT_SetDtr",
    "FT_ClrDtr",
    "FT_SetRts",
    "FT_ClrRts",
    "FT_GetModemStatus",
    "FT_SetChars",
    "FT_Purge",
    "FT_SetTimeouts",
    "FT_GetQueueStatus",
    "FT_ListDevices",
    "FT_ListDevices",
    "FT_ListDevices",
    "FT_OpenEx",
    "FT_GetDeviceInfoList",
    "FT_CreateDeviceInfoList",
    "FT_GetDeviceInfoDetail",
    "FT_SetEventNotification",
    "FT_EraseEE",
    "FT_EE_Read",
    "FT_EE_Program",
};

// The (first) slot of the named entry point; a name missing from the table does not compile.
consteval std::size_t FTSlotOf(std::string_view name) {
  for (std::size_t slot = 0; slot < kFTEntryPoints.size(); ++slot)
    if (kFTEntryPoints[slot] == name) return slot;
  throw "entry point missing from kFTEntryPoints";
}

// The loaded library and its entry points. One instance serves the process (FTDI());
// tests may create others. Filled once by the constructor, read-only afterwards, so the
// guards may be called from any thread.
class TFTDIBinding {
 public:
  // Loads the named library; a library that cannot be loaded leaves every slot empty.
  explicit TFTDIBinding(const std::string& libraryName);
  ~TFTDIBinding();
  TFTDIBinding(const TFTDIBinding&) = delete;
  TFTDIBinding& operator=(const TFTDIBinding&) = delete;

  bool Loaded() const { return FLibrary != nullptr; }
  // What the loader said: why the library could not be loaded, or one text per entry point
  // that it lacks. Empty for a complete library.
  const std::vector<std::string>& LoaderTexts() const { return FLoaderTexts; }
  // Number of slots that hold an address (all 28 with a complete library).
  int BoundCount() const;

  FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) const;
  FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) const;
  FT_STATUS FT_Close(FT_HANDLE handle) const;
  FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG rate) const;
  FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                      UCHAR parity) const;
  // Also refuses handle 0 without calling.
  FT_STATUS FT_ResetDevice(FT_HANDLE handle) const;
  FT_STATUS FT_SetDtr(FT_HANDLE handle) const;
  FT_STATUS FT_ClrDtr(FT_HANDLE handle) const;
  FT_STATUS FT_SetRts(FT_HANDLE handle) const;
  FT_STATUS FT_ClrRts(FT_HANDLE handle) const;
  FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) const;
  FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* waiting) const;
  FT_STATUS FT_ListDevices(void* arg1, void* arg2, DWORD flags) const;
  FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) const;
  FT_STATUS FT_CreateDeviceInfoList(DWORD* count) const;
  FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                   DWORD* locationId, void* serialNumber, void* description,
                                   FT_HANDLE* handle) const;
  FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, EVENT_HANDLE* event) const;
  FT_STATUS FT_EraseEE(FT_HANDLE handle) const;

 private:
  void* Lookup(const char* name);
  // Calls the entry point in Slot with its type, or answers kFTNotAvailable for an empty slot.
  template <typename TEntry, typename... TArgs>
  FT_STATUS Call(std::size_t slot, TArgs... args) const {
    const auto entry = reinterpret_cast<TEntry>(FSlots[slot]);
    return entry ? entry(args...) : kFTNotAvailable;
  }

  void* FLibrary = nullptr;
  std::vector<std::string> FLoaderTexts;
  std::array<void*, kFTEntryPoints.size()> FSlots{};
};

// Name of the library file: $KVX_FTD2XX_LIBRARY when set and not empty, else "libftd2xx.so".
std::string FTDILibraryName();
// The process-wide binding, loaded on first use.
const TFTDIBinding& FTDI();
// Program start, before any window or thread: loads the process-wide binding and writes
// what the loader said about a missing library or entry point to the trace.
void LoadFTDILibrary();

// Text appended to an operation's label for a failing status; empty for FT_OK and
// kFTNotAvailable, which the operator is not told about.
std::string FTStatusText(FT_STATUS status);
// Tells the operator (ShowMessage) that the labelled operation failed with Status.
void FTStatusReport(const std::string& label, FT_STATUS status);
