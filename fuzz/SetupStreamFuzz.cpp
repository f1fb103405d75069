// Any byte string as a module's channel setup stream.
#include "fuzz/StreamFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzStream(
      FuzzBytes(Data, Size),
      [](TKVXrec& rec, const std::string& stream) { ParseSetupStream(rec, stream); },
      [](const TChannelSetup& setup) { return EncodeSetupStream(setup); },
      [](TKVXrec& rec, int ch) -> TChannelSetup& { return rec.Setup[ch]; },
      [](const TChannelSetup& setup) {
        FuzzCheck(setup.Name.size() <= kNameWidth && setup.InputRange.size() <= kInputRangeWidth &&
                      setup.Unit.size() <= kUnitWidth && setup.AuxText.size() <= kAuxTextWidth &&
                      setup.Text17.size() <= kParamTextWidth &&
                      setup.Text19.size() <= kParamTextWidth,
                  "a setup text longer than its width");
      });
  return 0;
}
