#pragma once
// The parameter streams as a module sends them: what the simulated module answers and what
// the fuzzers start from.
#include <string>

#include "protocol/uKVXxx.h"

// One channel's part of a read reply: its 0x01 item, then every item the record keeps (0x1A
// only with GainPresent).
std::string EncodeSetupStream(const TChannelSetup& Setup);
std::string EncodeWatchStream(const TChannelWatch& Watch);
