#pragma once
// Prometheus' text exposition format of what the service serves: every family with its help and
// type, label values escaped, numbers as Prometheus reads them.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "service/uServedModule.h"

struct TMetricsInput {
  std::vector<TServedModule> Modules;
  std::map<std::string, double> LineCycles;  // seconds, by port
  std::string Version;
  std::chrono::system_clock::time_point Now;
  std::chrono::system_clock::duration MaxAge;  // values read longer ago are left out
};

std::string RenderMetrics(const TMetricsInput& Input);
