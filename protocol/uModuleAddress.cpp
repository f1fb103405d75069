#include "protocol/uModuleAddress.h"

#include <algorithm>

#include "protocol/uTirmel97.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"

std::optional<std::uint8_t> ParseModuleAddress(std::string_view Text) {
  const std::optional<std::uint64_t> value =
      Text.size() <= 3 ? ParseDigits(Text) : std::optional<std::uint64_t>();
  if (!value || *value > kHighestModuleAddress) return std::nullopt;
  return static_cast<std::uint8_t>(*value);
}

std::optional<std::vector<std::uint8_t>> ParseAddressRange(std::string_view Text) {
  std::vector<bool> chosen(kHighestModuleAddress + 1, false);
  for (std::size_t start = 0; start <= Text.size();) {
    const std::size_t comma = std::min(Text.find(',', start), Text.size());
    const std::string_view part = Text.substr(start, comma - start);
    const std::size_t dash = part.find('-');
    // Blanks around the numbers are how people write lists (" 7 , 12 ").
    const auto first = ParseModuleAddress(Trim(part.substr(0, dash)));
    const auto last =
        dash == std::string_view::npos ? first : ParseModuleAddress(Trim(part.substr(dash + 1)));
    if (!first || !last || *last < *first) return std::nullopt;
    std::fill(chosen.begin() + *first, chosen.begin() + *last + 1, true);
    start = comma + 1;
  }
  std::vector<std::uint8_t> addresses;
  for (std::size_t address = 0; address < chosen.size(); ++address)
    if (chosen[address]) addresses.push_back(static_cast<std::uint8_t>(address));
  return addresses;
}

std::optional<TPortAddress> ParsePortAddress(const std::string& Text) {
  const std::size_t at = Text.rfind('@');
  if (at == std::string::npos) return TPortAddress{Text, std::nullopt};
  const auto address = ParseModuleAddress(std::string_view(Text).substr(at + 1));
  if (at == 0 || !address) return std::nullopt;
  return TPortAddress{Text.substr(0, at), address};
}

std::string PortWithAddress(const std::string& Port, std::uint8_t Address) {
  return Port + "@" + std::to_string(Address);
}
