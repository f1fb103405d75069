#include "tools/kvxctl/uCtlServe.h"

#include <signal.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "protocol/uModuleAddress.h"
#include "service/uHttpEndpoint.h"
#include "service/uKvxService.h"
#include "service/uMqttPublisher.h"
#include "service/uServedStore.h"
#include "service/uSystemdNotify.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFiles.h"
#include "tools/kvxctl/uCtlRecordJson.h"

namespace {

constexpr const char* kDefaultListen = ":9731";
constexpr std::chrono::milliseconds kMainLoopStep{50};
constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kLandingPage =
    "<!DOCTYPE html>\n<html><head><title>kvxctl serve</title></head><body>\n"
    "<h1>KVX modules</h1>\n<p><a href=\"/metrics\">Metrics</a></p>\n</body></html>\n";

std::atomic<bool> gReload{false};

void Reload(int) {
  gReload = true;
}

THttpSetup HttpSetup(const TCtlOptions& Options) {
  THttpSetup setup;
  const std::string listen = Options.Listen.empty() ? kDefaultListen : Options.Listen;
  if (!ParseListenAddress(listen, setup))
    throw TCtlError(ceUsage, "--listen: '" + listen + "' is not HOST:PORT (see --help)");
  if (!Options.TlsCert.empty()) {
    setup.TlsCertificate = ReadTextFile(Options.TlsCert);
    setup.TlsKey = ReadTextFile(Options.TlsKey);
  }
  if (!Options.AuthFile.empty()) {
    const std::string line = Trim(ReadTextFile(Options.AuthFile));
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || line.find('\n') != std::string::npos)
      throw TCtlError(ceUsage, Options.AuthFile + ": not one line USER:PASSWORD");
    setup.User = line.substr(0, colon);
    setup.Password = line.substr(colon + 1);
  }
  return setup;
}

THttpResponse Page(const TServedStore& Store, const std::string& Path) {
  if (Path == "/metrics")
    return {200, kMetricsType, Store.Metrics(std::chrono::system_clock::now())};
  if (Path == "/") return {200, "text/html; charset=utf-8", kLandingPage};
  return {404, "text/plain; charset=utf-8", "not found; the metrics are at /metrics\n"};
}

std::string Serving(const TKvxService& Service) {
  return Format("serving %zu modules on %zu lines", Service.Modules(), Service.Lines());
}

}  // namespace

std::vector<TServedModule> ReadPlant(const std::string& Dir, const TServiceLog& Log) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(Dir, error)) throw TCtlError(ceUsage, Dir + " is no directory");
  std::vector<TServedModule> plant;
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, error)) {
    if (entry.path().extension() != ".json") continue;
    try {
      const TBackup backup = LoadBackupFile(entry.path().string());
      TServedModule module;
      module.Model = backup.Model;
      module.Serial = Format("%.4u", unsigned{backup.Serial});
      module.Address = backup.Address;
      plant.push_back(std::move(module));
    } catch (const TCtlError& failure) {
      Log(entry.path().string() + ": " + failure.what() + "; not in the plant");
    }
  }
  return plant;
}

int Serve(const TCtlOptions& Options, std::ostream& Err) {
  const std::chrono::milliseconds period = ServePeriod(Options);
  const THttpSetup http = HttpSetup(Options);
  std::mutex logLock;
  const TServiceLog log = [&](const std::string& Line) {
    std::lock_guard lock(logLock);
    Err << Line << std::endl;
  };
  std::vector<TServedModule> plant;
  if (!Options.Plant.empty()) plant = ReadPlant(Options.Plant, log);
  TServedStore store(period, KVX_VERSION_TEXT);
  // Every read goes to each of these.
  std::vector<IServedModuleSink*> sinks{&store};
  std::unique_ptr<TMqttPublisher> mqtt;
  if (Options.Mqtt.Enabled()) {
    try {
      mqtt = std::make_unique<TMqttPublisher>(Options.Mqtt, log);
    } catch (const TMqttSettingsError& error) {
      throw TCtlError(ceUsage, error.what());
    }
    log("publishing to " + Options.Mqtt.BrokerText() + " under " + Options.Mqtt.Prefix + "/");
    sinks.push_back(mqtt.get());
  }

  const THttpEndpoint endpoint(http,
                               [&store](const std::string& Path) { return Page(store, Path); });
  log("serving the metrics at http" + std::string(http.TlsCertificate.empty() ? "" : "s") + "://" +
      (http.Host.empty() ? "*" : http.Host) + ":" + std::to_string(endpoint.Port()) + "/metrics");

  TServeSetup setup;
  setup.Period = period;
  if (!Options.Addresses.empty()) setup.ScanAddresses = *ParseAddressRange(Options.Addresses);
  for (const std::string& arg : Options.ControllerArgs())
    if (arg.starts_with("baudrate")) setup.ExtraSpeed = arg;
  setup.Sinks = sinks;
  setup.OnCycle = [&store](const std::string& Port, std::chrono::duration<double> Cycle) {
    store.SetLineCycle(Port, Cycle);
  };
  setup.Log = log;

  struct sigaction action {};
  action.sa_handler = Reload;
  sigaction(SIGHUP, &action, nullptr);
  TKvxService service(setup);
  service.Search(plant);
  log(Serving(service));
  NotifyReady(Serving(service));
  while (!CtlInterrupted()) {
    if (gReload.exchange(false)) {
      log("reading the plant again and searching again");
      try {
        if (!Options.Plant.empty()) plant = ReadPlant(Options.Plant, log);
      } catch (const TCtlError& failure) {
        log(std::string(failure.what()) + "; the plant stays as it was");
      }
      service.Search(plant);
      log(Serving(service));
      NotifyStatus(Serving(service));
    }
    service.Tick();
    std::this_thread::sleep_for(kMainLoopStep);
  }
  NotifyStopping();
  return ceDone;
}
