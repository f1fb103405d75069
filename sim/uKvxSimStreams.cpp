#include "sim/uKvxSimStreams.h"

#include <variant>

#include "protocol/uKVXStreamItems.h"

std::string EncodeSetupStream(const TChannelSetup& Setup) {
  std::string stream = EncodeItem(kChannelCode, std::string(1, static_cast<char>(Setup.Channel)));
  for (const auto& item : kSetupItems)
    if (item.Code != kGainCode || Setup.GainPresent)
      stream += EncodeItem(item.Code, EncodeValue(item, Setup));
  return stream;
}

std::string EncodeWatchStream(const TChannelWatch& Watch) {
  std::string stream = EncodeItem(kChannelCode, std::string(1, static_cast<char>(Watch.Channel)));
  for (const auto& item : kWatchItems)
    if (!std::holds_alternative<std::monostate>(item.Field))
      stream += EncodeItem(item.Code, EncodeValue(item, Watch));
  return stream;
}
