#include "tests/service/ServeRig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "sim/uKvxSimLineRig.h"
#include "support/uStringUtils.h"

namespace {

std::string PortMap(const std::string& Line, const std::string& Single) {
  std::string map;
  for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
  return map + "5=" + Line + ";6=" + Single;
}

std::shared_ptr<TKvxSimModule> SingleModule() {
  TKvxSimState state = KvxSimFactoryState(mtRS, 77);
  state.Address = 1;
  state.Channels[1].Setup.Name = PadRight("Pec \"A\" \\1", kNameWidth);
  state.Channels[2].Setup.Offset = 42.5f;
  state.Channels[2].Setup.Scale = 0;
  state.Channels[3].Overflow = true;
  state.Channels[4].NotValid = true;
  return std::make_shared<TKvxSimModule>(state);
}

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

TServeRig::TServeRig(std::vector<TServedModule> Plant, bool LateModule)
    : Line(MakeSimLineOfThree()),
      Single(SingleModule()),
      FLinePty(std::make_unique<TSimPty>(Line)),
      FSinglePty(std::make_unique<TSimPty>(Single)),
      FStore(kRigPeriod, "test") {
  setenv("KVX_COMPORTS", PortMap(FLinePty->SlavePath(), FSinglePty->SlavePath()).c_str(), 1);
  FEndpoint = std::make_unique<THttpEndpoint>(
      THttpSetup{"127.0.0.1", 0, {}, {}, {}, {}}, [this](const std::string&) {
        return THttpResponse{200, "text/plain", FStore.Metrics(std::chrono::system_clock::now())};
      });
  TServeSetup setup;
  setup.Period = kRigPeriod;
  setup.ScanAddresses = {1, 7, 12, 200};
  // A module a busy machine let slip is found by the next search.
  setup.SearchAgain = std::chrono::seconds(1);
  setup.Sinks = {&FStore};
  setup.OnCycle = [this](const std::string& Port, std::chrono::duration<double> Cycle) {
    FStore.SetLineCycle(Port, Cycle);
  };
  setup.Log = [](const std::string&) {};
  FService = std::make_unique<TKvxService>(setup);
  TKvxSimFaults silent;
  silent.NoAnswer = LateModule;
  Line->Modules()[2]->SetFaults(silent);
  FService->Search(std::move(Plant));
  Line->Modules()[2]->SetFaults({});
}

TServeRig::~TServeRig() {
  FService.reset();
  unsetenv("KVX_COMPORTS");
}

std::string TServeRig::Scrape() {
  const auto start = std::chrono::steady_clock::now();
  LastMetrics = HttpGet(Port(), "/metrics");
  LongestScrape = std::max(LongestScrape, std::chrono::steady_clock::now() - start);
  return LastMetrics;
}

bool TServeRig::WaitForLine(const std::string& Wanted, std::chrono::seconds Limit) {
  const auto end = std::chrono::steady_clock::now() + Limit;
  do {
    FService->Tick();
    std::istringstream lines(Scrape());
    for (std::string line; std::getline(lines, line);)
      if (line == Wanted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

std::string HttpGet(std::uint16_t Port, const std::string& Target) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(Port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + Target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char buffer[65536];
      for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        response.append(buffer, got);
    }
  }
  ::close(fd);
  const std::size_t body = response.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : response.substr(body + 4);
}

std::string TPrometheus::Program() {
  for (const char* path : {"/usr/bin/prometheus", "/usr/local/bin/prometheus"})
    if (::access(path, X_OK) == 0) return path;
  return {};
}

TPrometheus::TPrometheus(std::uint16_t Target) : FPort(FreePort()) {
  std::ofstream(FDir.File("prometheus.yml"))
      << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: kvx\n"
      << "    static_configs:\n      - targets: ['127.0.0.1:" << Target << "']\n";
  const std::string program = Program();
  const std::string config = "--config.file=" + FDir.File("prometheus.yml");
  const std::string storage = "--storage.tsdb.path=" + FDir.File("data");
  const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(FPort);
  FPid = ::fork();
  if (FPid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execl(program.c_str(), program.c_str(), config.c_str(), storage.c_str(), listen.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
}

TPrometheus::~TPrometheus() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGKILL);
  ::waitpid(FPid, nullptr, 0);
}

std::string TPrometheus::Query(const std::string& Query) const {
  return HttpGet(FPort, "/api/v1/query?query=" + Query);
}
