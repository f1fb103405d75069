#include "service/uMqttClient.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kMaxRetrySeconds = 30;
constexpr int kIdlePollMs = 1000;  // keep-alive pings are sent between the waits
constexpr int kFlushMs = 100;      // for the will and the disconnect when the client ends
constexpr const char* kSystemCertificates = "/etc/ssl/certs";

// The library's global state, set up once for the process and released at its end.
struct TMosquittoLibrary {
  TMosquittoLibrary() { mosquitto_lib_init(); }
  ~TMosquittoLibrary() { mosquitto_lib_cleanup(); }
};

void UseLibrary() {
  static TMosquittoLibrary library;
}

}  // namespace

struct TMqttCallbacks {
  static void Connect(mosquitto*, void* Self, int Code, int, const mosquitto_property*) {
    static_cast<TMqttClient*>(Self)->OnConnack(Code);
  }
  static void Log(mosquitto*, void* Self, int Level, const char* Text) {
    static_cast<TMqttClient*>(Self)->OnLibraryLog(Level, Text);
  }
};

void TMqttClient::TMosquittoDeleter::operator()(mosquitto* Handle) const {
  mosquitto_destroy(Handle);
}

TMqttClient::TEventFd::TEventFd() : Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (Fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TMqttClient::TEventFd::~TEventFd() {
  close(Fd);
}

TMqttClient::TMqttClient(const TMqttSettings& Settings, const std::string& Password,
                         TMqttMessage Will, ISource& Source, TReport Report)
    : FSettings(Settings), FWill(std::move(Will)), FSource(Source), FReport(std::move(Report)) {
  UseLibrary();
  FHandle.reset(mosquitto_new(nullptr, true, this));
  if (!FHandle) throw std::system_error(errno, std::generic_category(), "mosquitto_new");
  mosquitto* handle = FHandle.get();
  mosquitto_int_option(
      handle, MOSQ_OPT_PROTOCOL_VERSION,
      FSettings.Protocol == TMqttProtocol::V5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  // A read's state goes out at once, not after the acknowledgement of the one before.
  mosquitto_int_option(handle, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_v5_callback_set(handle, &TMqttCallbacks::Connect);
  mosquitto_log_callback_set(handle, &TMqttCallbacks::Log);
  if (!FSettings.User.empty())
    mosquitto_username_pw_set(handle, FSettings.User.c_str(),
                              FSettings.PasswordFile.empty() ? nullptr : Password.c_str());
  if (FSettings.Tls) {
    const bool ownCa = !FSettings.CaFile.empty();
    if (ownCa && access(FSettings.CaFile.c_str(), R_OK) != 0)
      throw TMqttSettingsError("--mqtt-cafile: cannot read '" + FSettings.CaFile +
                               "': " + std::strerror(errno));
    const int rc =
        mosquitto_tls_set(handle, ownCa ? FSettings.CaFile.c_str() : nullptr,
                          ownCa ? nullptr : kSystemCertificates, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      throw TMqttSettingsError("--mqtt-cafile: '" + FSettings.CaFile +
                               "' cannot be used: " + Reason(rc));
  }
  mosquitto_will_set(handle, FWill.Topic.c_str(), static_cast<int>(FWill.Payload.size()),
                     FWill.Payload.data(), 1, true);
  FThread = std::thread([this] { Run(); });
}

TMqttClient::~TMqttClient() {
  FStop = true;
  Wake();
  FThread.join();
}

void TMqttClient::Wake() {
  const std::uint64_t one = 1;
  // Only a full counter fails, and then a wake-up is pending anyway.
  [[maybe_unused]] const ssize_t written = write(FWake.Fd, &one, sizeof one);
}

void TMqttClient::Run() {
  while (!FStop) {
    FConnected = false;
    FRefused = false;
    FLastLibraryError.clear();
    const int rc = mosquitto_connect_async(FHandle.get(), FSettings.Host.c_str(),
                                           std::stoi(FSettings.Port), kKeepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS)
      Serve();
    else
      Problem(FSettings.BrokerText() + ": cannot connect: " + Reason(rc));
    if (FStop || !WaitToRetry()) break;
  }
}

void TMqttClient::Serve() {
  mosquitto* handle = FHandle.get();
  while (true) {
    pollfd waits[2] = {{mosquitto_socket(handle), POLLIN, 0}, {FWake.Fd, POLLIN, 0}};
    if (mosquitto_want_write(handle)) waits[0].events |= POLLOUT;
    if (poll(waits, 2, kIdlePollMs) < 0) continue;  // interrupted by a signal
    if (FStop) return Flush();
    int rc = MOSQ_ERR_SUCCESS;
    if (waits[0].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(handle, 1);
    if (rc == MOSQ_ERR_SUCCESS && (waits[0].revents & POLLOUT))
      rc = mosquitto_loop_write(handle, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(handle);
    if (rc != MOSQ_ERR_SUCCESS) {
      // A refused login was named by the acknowledgement already.
      if (!FRefused)
        Problem(FSettings.BrokerText() + (FConnected ? ": connection lost" : ": cannot connect") +
                (rc == MOSQ_ERR_CONN_LOST ? "" : ": " + Reason(rc)));
      mosquitto_disconnect(handle);
      return;
    }
    const bool woken = waits[1].revents & POLLIN;
    if (woken) WaitForWake(0);
    if (FConnected && (woken || FFresh)) PublishPending(std::exchange(FFresh, false));
  }
}

void TMqttClient::PublishPending(bool Fresh) {
  for (const TMqttMessage& message : FSource.Pending(Fresh))
    // QoS 0: a message lost with the connection is sent again after the next one, and no
    // queue grows while the broker is away.
    mosquitto_publish(FHandle.get(), nullptr, message.Topic.c_str(),
                      static_cast<int>(message.Payload.size()), message.Payload.data(), 0, true);
}

void TMqttClient::Flush() {
  mosquitto* handle = FHandle.get();
  if (FConnected)
    mosquitto_publish(handle, nullptr, FWill.Topic.c_str(), static_cast<int>(FWill.Payload.size()),
                      FWill.Payload.data(), 0, true);
  mosquitto_disconnect(handle);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFlushMs);
  while (mosquitto_want_write(handle) && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{mosquitto_socket(handle), POLLOUT, 0};
    if (poll(&wait, 1, kFlushMs) <= 0 || mosquitto_loop_write(handle, 1) != MOSQ_ERR_SUCCESS) break;
  }
}

bool TMqttClient::WaitToRetry() {
  const int delaySeconds = std::min(kMaxRetrySeconds, 1 << std::min(FRetry++, 5));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(delaySeconds);
  while (!FStop) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    WaitForWake(static_cast<int>(left.count()));
  }
  return false;
}

bool TMqttClient::WaitForWake(int TimeoutMs) {
  pollfd wait{FWake.Fd, POLLIN, 0};
  if (poll(&wait, 1, TimeoutMs) <= 0) return false;
  std::uint64_t count;
  [[maybe_unused]] const ssize_t read = ::read(FWake.Fd, &count, sizeof count);
  return true;
}

void TMqttClient::Problem(const std::string& Text) {
  if (Text == FLastProblem) return;
  FLastProblem = Text;
  FReport("MQTT: " + Text);
}

std::string TMqttClient::Reason(int Code) const {
  if (Code == MOSQ_ERR_ERRNO) return std::strerror(errno);
  if (Code == MOSQ_ERR_TLS && !FLastLibraryError.empty()) return "TLS: " + FLastLibraryError;
  return mosquitto_strerror(Code);
}

void TMqttClient::OnConnack(int Code) {
  if (Code != 0) {
    FRefused = true;
    const char* reason = FSettings.Protocol == TMqttProtocol::V5 ? mosquitto_reason_string(Code)
                                                                 : mosquitto_connack_string(Code);
    Problem(FSettings.BrokerText() + " refused the login: " + reason);
    return;
  }
  FConnected = true;
  FFresh = true;
  FRetry = 0;
  FLastProblem.clear();
  FReport("MQTT: connected to " + FSettings.BrokerText());
}

void TMqttClient::OnLibraryLog(int Level, const char* Text) {
  if (Level & MOSQ_LOG_ERR) FLastLibraryError = Text;
}
