#pragma once
// Shared by the parameter stream targets: parse any bytes into a record; whether the parse
// succeeds or raises, every text stays within its width, and every channel the parse filled
// encodes, parses and encodes again to the same bytes.
#include <string>

#include "fuzz/FuzzCheck.h"
#include "protocol/uKVXxx.h"
#include "sim/uKvxSimStreams.h"
#include "support/uErrors.h"
#include "support/uMessages.h"

template <class Parse, class Encode, class Slot, class Limits>
void FuzzStream(const std::string& Stream, Parse parse, Encode encode, Slot slot, Limits limits) {
  static const bool quiet = (SetMessageHandler([](const std::string&) {}), true);
  (void)quiet;
  TKVXrec rec;
  try {
    parse(rec, Stream);
  } catch (const Exception&) {
  }
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    const auto& item = slot(rec, ch);
    limits(item);
    if (item.Channel == 0) continue;
    FuzzCheck(item.Channel == ch, "a channel stored in the wrong slot");
    const std::string encoded = encode(item);
    TKVXrec again;
    parse(again, encoded);
    FuzzCheck(encode(slot(again, ch)) == encoded, "encode-parse-encode differs");
  }
}
