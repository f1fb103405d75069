// Offers two entry points only; each answers a status no real call would give, so a test
// can tell that the binding really called it.
#include "usb/uci_FTDIcore.h"

extern "C" __attribute__((visibility("default"))) FT_STATUS FT_Close(FT_HANDLE) {
  return 77;
}
extern "C" __attribute__((visibility("default"))) FT_STATUS FT_ListDevices(void* count, void*,
                                                                           DWORD) {
  *static_cast<DWORD*>(count) = 3;
  return FT_OK;
}
