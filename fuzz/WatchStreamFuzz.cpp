// Any byte string as a module's channel watch stream.
#include "fuzz/StreamFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzStream(
      FuzzBytes(Data, Size),
      [](TKVXrec& rec, const std::string& stream) { ParseWatchStream(rec, stream); },
      [](const TChannelWatch& watch) { return EncodeWatchStream(watch); },
      [](TKVXrec& rec, int ch) -> TChannelWatch& { return rec.Watch[ch]; },
      [](const TChannelWatch& watch) {
        FuzzCheck(watch.Text14.size() <= kParamTextWidth &&
                      watch.Text16.size() <= kParamTextWidth &&
                      watch.Text18.size() <= kParamTextWidth,
                  "a watch text longer than its width");
      });
  return 0;
}
