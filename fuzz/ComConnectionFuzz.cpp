// Any text as the connection string of a COM port channel.
#include "fuzz/ConnectionFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzConnectionString<TSerialPortInterface>(FuzzBytes(Data, Size),
                                             [] { return Create<TSerialPortInterface>(); });
  return 0;
}
