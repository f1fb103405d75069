// kvxctl serve over simulated modules: what a scrape shows of each module as its state
// changes, the text as promtool reads it, and a real Prometheus server that scrapes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/service/ServeRig.h"

namespace {

std::string UpLine(const std::string& Serial, const std::string& Port, const std::string& Address,
                   int Up) {
  return "kvx_module_up{model=\"VIROD\",serial=\"" + Serial + "\",port=\"" + Port +
         "\",address=\"" + Address + "\"} " + std::to_string(Up);
}

// What promtool says of Text; empty when it finds nothing to complain about.
std::string PromtoolComplaints(const std::string& Text) {
  TTempDir dir;
  std::ofstream(dir.File("metrics")) << Text;
  const std::string command = "promtool check metrics < " + dir.File("metrics") + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  return ::pclose(pipe) == 0 ? output : "promtool failed: " + output;
}

}  // namespace

TEST(Serve, EachModulesStateIsScrapedAsItChanges) {
  TServedModule missing;
  missing.Model = "VIROD";
  missing.Serial = "9999";
  missing.Address = 3;
  TServeRig rig({missing}, true);
  const std::function<void()> nothing = [] {};
  TKvxSimFaults silent;
  silent.NoAnswer = true;
  const struct {
    const char* Name;
    std::function<void()> Do;
    std::string Line;
  } cases[] = {
      {"a module found is up", nothing, UpLine("4012", "COM5", "12", 1)},
      {"its channel's value", nothing,
       "kvx_channel_value{model=\"VIROD\",serial=\"0077\",port=\"COM6\",address=\"1\","
       "channel=\"2\",name=\"Tlak\",unit=\"bar\"} 42.5"},
      {"a plant module not found is down by its serial", nothing, UpLine("9999", "", "3", 0)},
      {"a module that answers after the search is found on its line", nothing,
       UpLine("4200", "COM5", "200", 1)},
      {"a module that goes silent is down", [&] { rig.Line->Modules()[1]->SetFaults(silent); },
       UpLine("4012", "COM5", "12", 0)},
      {"and up again when it answers", [&] { rig.Line->Modules()[1]->SetFaults({}); },
       UpLine("4012", "COM5", "12", 1)},
      {"a module whose line was pulled is down", [&] { rig.PullSingleLine(); },
       UpLine("0077", "COM6", "1", 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Do();
    EXPECT_TRUE(rig.WaitForLine(c.Line)) << rig.LastMetrics;
  }
  EXPECT_EQ(PromtoolComplaints(rig.LastMetrics), "");
  // Scrapes are answered from what was read, also while a line is gone.
  EXPECT_LT(rig.LongestScrape, std::chrono::seconds(1));
}

TEST(Serve, PrometheusScrapesTheValueOfANamedChannel) {
  if (TPrometheus::Program().empty()) GTEST_SKIP() << "prometheus is not installed";
  TServeRig rig;
  TPrometheus prometheus(rig.Port());
  const std::string query = "kvx_channel_value%7Bserial%3D%220077%22%2Cname%3D%22Tlak%22%7D";
  std::string answer;
  for (int attempt = 0; attempt < 600 && answer.find("\"42.5\"") == std::string::npos; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    answer = prometheus.Query(query);
  }
  EXPECT_NE(answer.find("\"42.5\""), std::string::npos) << answer;
}
