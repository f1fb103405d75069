#include "sim/uKvxSimLine.h"

#include <algorithm>

TKvxSimLine::TKvxSimLine(std::vector<std::shared_ptr<TKvxSimModule>> Modules)
    : FModules(std::move(Modules)) {}

void TKvxSimLine::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) {
  for (const auto& module : FModules) module->Write(bytes, baud, now);
}

std::string TKvxSimLine::Read(Clock::time_point now) {
  // Modules on one line answer one request after the same turnaround at the same speed, so
  // the n-th bytes due now were sent at the same moment.
  std::string line;
  for (const auto& module : FModules) {
    const std::string sent = module->Read(now);
    for (std::size_t index = 0; index < sent.size(); ++index) {
      if (index < line.size())
        line[index] = static_cast<char>(line[index] & sent[index]);
      else
        line += sent[index];
    }
  }
  return line;
}

std::size_t TKvxSimLine::Available(Clock::time_point now) const {
  std::size_t most = 0;
  for (const auto& module : FModules) most = std::max(most, module->Available(now));
  return most;
}

std::optional<ISimPeer::Clock::time_point> TKvxSimLine::NextDue() const {
  std::optional<Clock::time_point> first;
  for (const auto& module : FModules)
    if (const auto due = module->NextDue(); due && (!first || *due < *first)) first = due;
  return first;
}
