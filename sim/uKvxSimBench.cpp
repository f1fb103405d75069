#include "sim/uKvxSimBench.h"

TKvxSimBench::TKvxSimBench(std::vector<std::shared_ptr<TKvxSimModule>> Modules)
    : FModules(std::move(Modules)) {}

void TKvxSimBench::Next() {
  std::lock_guard lock(FLock);
  const std::size_t last = 2 * FModules.size() + 1;
  if (FStep < last) ++FStep;
  if (FStep == last)
    FPlugged = std::make_shared<TKvxSimLine>(FModules);
  else if (FStep % 2 == 1)
    FPlugged = FModules[FStep / 2];
  else
    FPlugged.reset();
}

std::shared_ptr<ISimPeer> TKvxSimBench::Plugged() const {
  std::lock_guard lock(FLock);
  return FPlugged;
}

void TKvxSimBench::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) {
  if (const auto peer = Plugged()) peer->Write(bytes, baud, now);
}

std::string TKvxSimBench::Read(Clock::time_point now) {
  const auto peer = Plugged();
  return peer ? peer->Read(now) : std::string();
}

std::size_t TKvxSimBench::Available(Clock::time_point now) const {
  const auto peer = Plugged();
  return peer ? peer->Available(now) : 0;
}

std::optional<ISimPeer::Clock::time_point> TKvxSimBench::NextDue() const {
  const auto peer = Plugged();
  return peer ? peer->NextDue() : std::nullopt;
}
