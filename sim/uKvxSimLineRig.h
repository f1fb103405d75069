#pragma once
// Three RS modules on one line at 9600 bit/s, at addresses 7, 12 and 200, with serial numbers
// 4000 + address; the line a test reaches through a channel or a pty.
#include <array>
#include <cstdint>
#include <memory>

#include "sim/uKvxSimLine.h"

inline constexpr std::array<std::uint8_t, 3> kSimLineAddresses = {7, 12, 200};

inline std::uint16_t SimLineSerial(std::uint8_t Address) {
  return static_cast<std::uint16_t>(4000 + Address);
}

inline std::shared_ptr<TKvxSimLine> MakeSimLineOfThree() {
  std::vector<std::shared_ptr<TKvxSimModule>> modules;
  for (const std::uint8_t address : kSimLineAddresses) {
    TKvxSimState state = KvxSimFactoryState(mtRS, SimLineSerial(address));
    state.Address = address;
    modules.push_back(std::make_shared<TKvxSimModule>(state));
  }
  return std::make_shared<TKvxSimLine>(std::move(modules));
}
