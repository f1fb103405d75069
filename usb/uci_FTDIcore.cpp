#include "usb/uci_FTDIcore.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>

#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

void* TFTDIBinding::Lookup(const char* name) {
  dlerror();
  void* entry = dlsym(FLibrary, name);
  if (!entry) {
    const char* text = dlerror();
    const std::string said = text ? text : std::string("no entry point ") + name;
    // FT_ListDevices is looked up three times but missing once.
    if (FLoaderTexts.empty() || FLoaderTexts.back() != said) FLoaderTexts.push_back(said);
  }
  return entry;
}

TFTDIBinding::TFTDIBinding(const std::string& libraryName) {
  FLibrary = dlopen(libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FLibrary) {
    const char* text = dlerror();
    FLoaderTexts.push_back(text ? text : libraryName + ": not loaded");
    return;
  }
  for (std::size_t slot = 0; slot < kFTEntryPoints.size(); ++slot)
    FSlots[slot] = Lookup(std::string(kFTEntryPoints[slot]).c_str());
}

TFTDIBinding::~TFTDIBinding() {
  if (FLibrary) dlclose(FLibrary);
}

int TFTDIBinding::BoundCount() const {
  return static_cast<int>(
      std::ranges::count_if(FSlots, [](void* slot) { return slot != nullptr; }));
}

FT_STATUS TFTDIBinding::FT_Write(FT_HANDLE handle, void* buffer, DWORD count,
                                 DWORD* written) const {
  return Call<TFT_Write>(FTSlotOf("FT_Write"), handle, buffer, count, written);
}

FT_STATUS TFTDIBinding::FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) const {
  return Call<TFT_Read>(FTSlotOf("FT_Read"), handle, buffer, count, read);
}

FT_STATUS TFTDIBinding::FT_Close(FT_HANDLE handle) const {
  return Call<TFT_Close>(FTSlotOf("FT_Close"), handle);
}

FT_STATUS TFTDIBinding::FT_SetBaudRate(FT_HANDLE handle, ULONG rate) const {
  return Call<TFT_SetBaudRate>(FTSlotOf("FT_SetBaudRate"), handle, rate);
}

FT_STATUS TFTDIBinding::FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                  UCHAR stopBits, UCHAR parity) const {
  return Call<TFT_SetDataCharacteristics>(FTSlotOf("FT_SetDataCharacteristics"), handle, wordLength,
                                          stopBits, parity);
}

FT_STATUS TFTDIBinding::FT_ResetDevice(FT_HANDLE handle) const {
  if (!handle) return kFTNotAvailable;
  return Call<TFT_HandleOnly>(FTSlotOf("FT_ResetDevice"), handle);
}

FT_STATUS TFTDIBinding::FT_SetDtr(FT_HANDLE handle) const {
  return Call<TFT_HandleOnly>(FTSlotOf("FT_SetDtr"), handle);
}
FT_STATUS TFTDIBinding::FT_ClrDtr(FT_HANDLE handle) const {
  return Call<TFT_HandleOnly>(FTSlotOf("FT_ClrDtr"), handle);
}
FT_STATUS TFTDIBinding::FT_SetRts(FT_HANDLE handle) const {
  return Call<TFT_HandleOnly>(FTSlotOf("FT_SetRts"), handle);
}
FT_STATUS TFTDIBinding::FT_ClrRts(FT_HANDLE handle) const {
  return Call<TFT_HandleOnly>(FTSlotOf("FT_ClrRts"), handle);
}

FT_STATUS TFTDIBinding::FT_Purge(FT_HANDLE handle, ULONG mask) const {
  return Call<TFT_Purge>(FTSlotOf("FT_Purge"), handle, mask);
}

FT_STATUS TFTDIBinding::FT_GetQueueStatus(FT_HANDLE handle, DWORD* waiting) const {
  return Call<TFT_GetQueueStatus>(FTSlotOf("FT_GetQueueStatus"), handle, waiting);
}

FT_STATUS TFTDIBinding::FT_ListDevices(void* arg1, void* arg2, DWORD flags) const {
  return Call<TFT_ListDevices>(FTSlotOf("FT_ListDevices"), arg1, arg2, flags);
}

FT_STATUS TFTDIBinding::FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) const {
  return Call<TFT_OpenEx>(FTSlotOf("FT_OpenEx"), arg, flags, handle);
}

FT_STATUS TFTDIBinding::FT_CreateDeviceInfoList(DWORD* count) const {
  return Call<TFT_CreateDeviceInfoList>(FTSlotOf("FT_CreateDeviceInfoList"), count);
}

FT_STATUS TFTDIBinding::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locationId, void* serialNumber,
                                               void* description, FT_HANDLE* handle) const {
  return Call<TFT_GetDeviceInfoDetail>(FTSlotOf("FT_GetDeviceInfoDetail"), index, flags, type, id,
                                       locationId, serialNumber, description, handle);
}

FT_STATUS TFTDIBinding::FT_SetEventNotification(FT_HANDLE handle, DWORD mask,
                                                EVENT_HANDLE* event) const {
  return Call<TFT_SetEventNotification>(FTSlotOf("FT_SetEventNotification"), handle, mask,
                                        static_cast<void*>(event));
}

FT_STATUS TFTDIBinding::FT_EraseEE(FT_HANDLE handle) const {
  return Call<TFT_HandleOnly>(FTSlotOf("FT_EraseEE"), handle);
}

std::string FTDILibraryName() {
  const char* name = std::getenv("KVX_FTD2XX_LIBRARY");
  return name && *name ? name : "libftd2xx.so";
}

const TFTDIBinding& FTDI() {
  static const TFTDIBinding binding(FTDILibraryName());
  return binding;
}

void LoadFTDILibrary() {
  const TFTDIBinding& binding = FTDI();
  const std::string what =
      binding.Loaded() ? "D2XX library lacks an entry point: " : "D2XX library not loaded: ";
  for (const std::string& text : binding.LoaderTexts()) DebugLog(what + text);
}

std::string FTStatusText(FT_STATUS status) {
  switch (status) {
    case FT_OK:
    case kFTNotAvailable:
      return {};
    case FT_INVALID_HANDLE:
      return " - Invalid Handle...";
    case FT_DEVICE_NOT_FOUND:
      return " - Device Not Found....";
    case FT_DEVICE_NOT_OPENED:
      return " - Device Not Opened...";
    case FT_IO_ERROR:
      return " - General IO Error...";
    case FT_INSUFFICIENT_RESOURCES:
      return " - Insufficient Resources...";
    case FT_INVALID_PARAMETER:
      return " - Invalid Parameter ...";
    default:
      // The driver has more statuses than the operator texts; the number still helps.
      return Format(" - Status %u...", static_cast<unsigned>(status));
  }
}

void FTStatusReport(const std::string& label, FT_STATUS status) {
  const std::string text = FTStatusText(status);
  if (!text.empty()) ShowMessage(label + text);
}
