#pragma once
// Several simulated modules on one RS-485 pair: every module hears what the host sends, and
// the line carries what they send back. When more than one sends at once, the line holds the
// bits of all of them mixed (a driven 0 wins over a 1), as two drivers on one pair give.
#include <memory>
#include <vector>

#include "sim/uKvxSimModule.h"

class TKvxSimLine : public ISimPeer {
 public:
  explicit TKvxSimLine(std::vector<std::shared_ptr<TKvxSimModule>> Modules);

  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override;
  std::string Read(Clock::time_point now) override;
  std::size_t Available(Clock::time_point now) const override;
  std::optional<Clock::time_point> NextDue() const override;

  const std::vector<std::shared_ptr<TKvxSimModule>>& Modules() const { return FModules; }

 private:
  std::vector<std::shared_ptr<TKvxSimModule>> FModules;
};
