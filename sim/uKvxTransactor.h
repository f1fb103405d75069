#pragma once
// The download's transaction bound to one channel, as tests and benchmarks hand it to
// KvxDownloadParams (the window binds its own, which also logs).
#include <cstdint>
#include <string>

#include "protocol/uKVXxxCommands.h"

class TKVXChannelTransactor {
 public:
  explicit TKVXChannelTransactor(TKVXChannel Channel) : FChannel(std::move(Channel)) {}
  bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                std::int32_t Timeout, std::string& Reply);
  TKVXTransact Method() { return Bind<&TKVXChannelTransactor::Transact>(this); }

 private:
  TKVXChannel FChannel;
};
