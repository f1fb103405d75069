#include "usb/uci_FTDIcore.h"

#include <dlfcn.h>

#include <cstdlib>

#include "support/uLogUtils.h"
#include "support/uMessages.h"
#include "support/uStringUtils.h"

namespace {

template <typename F, typename... A>
FT_STATUS Guarded(F entry, A... args) {
  return entry ? entry(args...) : kFTNotAvailable;
}

}  // namespace

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
  // Same order as the slots are declared.
  FWrite = reinterpret_cast<TFT_Write>(Lookup("FT_Write"));
  FOpen = reinterpret_cast<TFT_Open>(Lookup("FT_Open"));
  FClose = reinterpret_cast<TFT_Close>(Lookup("FT_Close"));
  FRead = reinterpret_cast<TFT_Read>(Lookup("FT_Read"));
  FSetBaudRate = reinterpret_cast<TFT_SetBaudRate>(Lookup("FT_SetBaudRate"));
  FSetDataCharacteristics =
      reinterpret_cast<TFT_SetDataCharacteristics>(Lookup("FT_SetDataCharacteristics"));
  FSetFlowControl = reinterpret_cast<TFT_SetFlowControl>(Lookup("FT_SetFlowControl"));
  FResetDevice = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_ResetDevice"));
  FSetDtr = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_SetDtr"));
  FClrDtr = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_ClrDtr"));
  FSetRts = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_SetRts"));
  FClrRts = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_ClrRts"));
  FGetModemStatus = reinterpret_cast<TFT_GetModemStatus>(Lookup("FT_GetModemStatus"));
  FSetChars = reinterpret_cast<TFT_SetChars>(Lookup("FT_SetChars"));
  FPurge = reinterpret_cast<TFT_Purge>(Lookup("FT_Purge"));
  FSetTimeouts = reinterpret_cast<TFT_SetTimeouts>(Lookup("FT_SetTimeouts"));
  FGetQueueStatus = reinterpret_cast<TFT_GetQueueStatus>(Lookup("FT_GetQueueStatus"));
  FListDevices = reinterpret_cast<TFT_ListDevices>(Lookup("FT_ListDevices"));
  FListDevices2 = reinterpret_cast<TFT_ListDevices>(Lookup("FT_ListDevices"));
  FListDevices3 = reinterpret_cast<TFT_ListDevices>(Lookup("FT_ListDevices"));
  FOpenEx = reinterpret_cast<TFT_OpenEx>(Lookup("FT_OpenEx"));
  FGetDeviceInfoList = reinterpret_cast<TFT_GetDeviceInfoList>(Lookup("FT_GetDeviceInfoList"));
  FCreateDeviceInfoList =
      reinterpret_cast<TFT_CreateDeviceInfoList>(Lookup("FT_CreateDeviceInfoList"));
  FGetDeviceInfoDetail =
      reinterpret_cast<TFT_GetDeviceInfoDetail>(Lookup("FT_GetDeviceInfoDetail"));
  FSetEventNotification =
      reinterpret_cast<TFT_SetEventNotification>(Lookup("FT_SetEventNotification"));
  FEraseEE = reinterpret_cast<TFT_HandleOnly>(Lookup("FT_EraseEE"));
  FEE_Read = reinterpret_cast<TFT_EE_Data>(Lookup("FT_EE_Read"));
  FEE_Program = reinterpret_cast<TFT_EE_Data>(Lookup("FT_EE_Program"));
}

TFTDIBinding::~TFTDIBinding() {
  if (FLibrary) dlclose(FLibrary);
}

int TFTDIBinding::BoundCount() const {
  const void* slots[] = {
      reinterpret_cast<const void*>(FWrite),
      reinterpret_cast<const void*>(FOpen),
      reinterpret_cast<const void*>(FClose),
      reinterpret_cast<const void*>(FRead),
      reinterpret_cast<const void*>(FSetBaudRate),
      reinterpret_cast<const void*>(FSetDataCharacteristics),
      reinterpret_cast<const void*>(FSetFlowControl),
      reinterpret_cast<const void*>(FResetDevice),
      reinterpret_cast<const void*>(FSetDtr),
      reinterpret_cast<const void*>(FClrDtr),
      reinterpret_cast<const void*>(FSetRts),
      reinterpret_cast<const void*>(FClrRts),
      reinterpret_cast<const void*>(FGetModemStatus),
      reinterpret_cast<const void*>(FSetChars),
      reinterpret_cast<const void*>(FPurge),
      reinterpret_cast<const void*>(FSetTimeouts),
      reinterpret_cast<const void*>(FGetQueueStatus),
      reinterpret_cast<const void*>(FListDevices),
      reinterpret_cast<const void*>(FListDevices2),
      reinterpret_cast<const void*>(FListDevices3),
      reinterpret_cast<const void*>(FOpenEx),
      reinterpret_cast<const void*>(FGetDeviceInfoList),
      reinterpret_cast<const void*>(FCreateDeviceInfoList),
      reinterpret_cast<const void*>(FGetDeviceInfoDetail),
      reinterpret_cast<const void*>(FSetEventNotification),
      reinterpret_cast<const void*>(FEraseEE),
      reinterpret_cast<const void*>(FEE_Read),
      reinterpret_cast<const void*>(FEE_Program),
  };
  int count = 0;
  for (const void* slot : slots) count += slot != nullptr;
  return count;
}

FT_STATUS TFTDIBinding::FT_Write(FT_HANDLE handle, void* buffer, DWORD count,
                                 DWORD* written) const {
  return Guarded(FWrite, handle, buffer, count, written);
}

FT_STATUS TFTDIBinding::FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) const {
  return Guarded(FRead, handle, buffer, count, read);
}

FT_STATUS TFTDIBinding::FT_Close(FT_HANDLE handle) const {
  return Guarded(FClose, handle);
}

FT_STATUS TFTDIBinding::FT_SetBaudRate(FT_HANDLE handle, ULONG rate) const {
  return Guarded(FSetBaudRate, handle, rate);
}

FT_STATUS TFTDIBinding::FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                  UCHAR stopBits, UCHAR parity) const {
  return Guarded(FSetDataCharacteristics, handle, wordLength, stopBits, parity);
}

FT_STATUS TFTDIBinding::FT_ResetDevice(FT_HANDLE handle) const {
  if (!handle) return kFTNotAvailable;
  return Guarded(FResetDevice, handle);
}

FT_STATUS TFTDIBinding::FT_SetDtr(FT_HANDLE handle) const {
  return Guarded(FSetDtr, handle);
}
FT_STATUS TFTDIBinding::FT_ClrDtr(FT_HANDLE handle) const {
  return Guarded(FClrDtr, handle);
}
FT_STATUS TFTDIBinding::FT_SetRts(FT_HANDLE handle) const {
  return Guarded(FSetRts, handle);
}
FT_STATUS TFTDIBinding::FT_ClrRts(FT_HANDLE handle) const {
  return Guarded(FClrRts, handle);
}

FT_STATUS TFTDIBinding::FT_Purge(FT_HANDLE handle, ULONG mask) const {
  return Guarded(FPurge, handle, mask);
}

FT_STATUS TFTDIBinding::FT_GetQueueStatus(FT_HANDLE handle, DWORD* waiting) const {
  return Guarded(FGetQueueStatus, handle, waiting);
}

FT_STATUS TFTDIBinding::FT_ListDevices(void* arg1, void* arg2, DWORD flags) const {
  return Guarded(FListDevices, arg1, arg2, flags);
}

FT_STATUS TFTDIBinding::FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) const {
  return Guarded(FOpenEx, arg, flags, handle);
}

FT_STATUS TFTDIBinding::FT_CreateDeviceInfoList(DWORD* count) const {
  return Guarded(FCreateDeviceInfoList, count);
}

FT_STATUS TFTDIBinding::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locationId, void* serialNumber,
                                               void* description, FT_HANDLE* handle) const {
  return Guarded(FGetDeviceInfoDetail, index, flags, type, id, locationId, serialNumber,
                 description, handle);
}

FT_STATUS TFTDIBinding::FT_SetEventNotification(FT_HANDLE handle, DWORD mask,
                                                EVENT_HANDLE* event) const {
  return Guarded(FSetEventNotification, handle, mask, static_cast<void*>(event));
}

FT_STATUS TFTDIBinding::FT_EraseEE(FT_HANDLE handle) const {
  return Guarded(FEraseEE, handle);
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
