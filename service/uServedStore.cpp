#include "service/uServedStore.h"

#include "service/uMetricsText.h"

namespace {

// A value is served for as long as three periods: one late read does not make a gap.
constexpr int kServedPeriods = 3;

}  // namespace

TServedStore::TServedStore(std::chrono::milliseconds Period, std::string Version)
    : FPeriod(Period), FVersion(std::move(Version)) {}

void TServedStore::Update(const TServedModule& Module) {
  std::lock_guard lock(FLock);
  FModules.insert_or_assign(Module.Key(), Module);
}

void TServedStore::Forget(const TServedModule& Module) {
  std::lock_guard lock(FLock);
  FModules.erase(Module.Key());
}

void TServedStore::SetLineCycle(const std::string& Port, std::chrono::duration<double> Cycle) {
  std::lock_guard lock(FLock);
  FCycles[Port] = Cycle.count();
}

std::string TServedStore::Metrics(std::chrono::system_clock::time_point Now) const {
  TMetricsInput input{{}, {}, FVersion, Now, kServedPeriods * FPeriod};
  {
    std::lock_guard lock(FLock);
    input.Modules.reserve(FModules.size());
    for (const auto& [key, module] : FModules) input.Modules.push_back(module);
    input.LineCycles = FCycles;
  }
  return RenderMetrics(input);
}
