#pragma once
// Module addresses as the operator writes them: one address ("12"), a range of them
// ("0-253", "1,5,7-12"), and a port with the address of one module on its line ("COM5@7").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Empty when Text is not a whole number from 0 to 253.
std::optional<std::uint8_t> ParseModuleAddress(std::string_view Text);
// The addresses in ascending order, each once; empty when any part is malformed, out of 0 to
// 253 or runs backwards.
std::optional<std::vector<std::uint8_t>> ParseAddressRange(std::string_view Text);

struct TPortAddress {
  std::string Port;
  std::optional<std::uint8_t> Address;  // none: the universal address
};
// "COM5@7" into its port and address; "COM5" has none. Empty when what follows the last '@'
// is no module address or the port is empty.
std::optional<TPortAddress> ParsePortAddress(const std::string& Text);
std::string PortWithAddress(const std::string& Port, std::uint8_t Address);
