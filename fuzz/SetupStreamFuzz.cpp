// Any byte string as a module's channel setup stream.
#include "fuzz/StreamFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzStream(
      FuzzBytes(Data, Size), [](TKVXrec& rec, const std::string& s) { ParseSetupStream(rec, s); },
      [](const TChannelSetup& setup) { return EncodeSetupStream(setup); },
      [](TKVXrec& rec, int ch) -> TChannelSetup& { return rec.Setup[ch]; },
      [](const TChannelSetup& s) {
        FuzzCheck(s.Name.size() <= kNameWidth && s.InputRange.size() <= kInputRangeWidth &&
                      s.Unit.size() <= kUnitWidth && s.AuxText.size() <= kAuxTextWidth &&
                      s.Text17.size() <= kParamTextWidth && s.Text19.size() <= kParamTextWidth,
                  "a setup text longer than its width");
      });
  return 0;
}
