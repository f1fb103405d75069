// Any text as the connection string of a USB adapter channel, on the fake driver library
// with no adapters.
#include <cstdlib>

#include "fuzz/ConnectionFuzz.h"
#include "usb/uci_FTDIdirect.h"

namespace {
const bool FakeSelected =
    setenv("KVX_FTD2XX_LIBRARY", KVX_FAKE_FTD2XX, 1) == 0 && unsetenv("KVX_FAKE_FTDI") == 0;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzCheck(FakeSelected, "the fake driver library is not selected");
  FuzzConnectionString<TFTDIDevice>(FuzzBytes(Data, Size),
                                    [] { return Create<TFTDIDevice>(std::string()); });
  return 0;
}
