// Any byte string as one measured value block: only 18 bytes decode, anything else raises
// and leaves the value invalid.
#include "fuzz/FuzzCheck.h"
#include "protocol/uKVXxx.h"
#include "support/uErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TKVXChannelRecountedValue value;
  value.Valid = true;
  try {
    DecodeMeasuredValue(FuzzBytes(Data, Size), value);
  } catch (const Exception&) {
    FuzzCheck(Size != kMeasuredBlockSize, "a block of the right size was refused");
    FuzzCheck(!value.Valid, "a refused block left the value valid");
    return 0;
  }
  FuzzCheck(Size == kMeasuredBlockSize, "a block of the wrong size was decoded");
  FuzzCheck(value.Text.size() == 10, "the value text is not 10 characters");
  FuzzCheck(value.Channel == Data[0] && value.Valid == ((Data[1] & 0x80) != 0), "status bits");
  return 0;
}
