#include "sim/uKvxTransactor.h"

bool TKVXChannelTransactor::Transact(std::uint8_t Instruction, const std::string& Data,
                                     std::uint8_t Address, std::int32_t Timeout,
                                     std::string& Reply) {
  return ::Transact(FChannel, Instruction, Data, Address, Timeout, Reply);
}
