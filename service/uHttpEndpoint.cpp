#include "service/uHttpEndpoint.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>
#include <stdexcept>

#include "support/uNumberText.h"

namespace {

constexpr unsigned kServerThreads = 2;
constexpr unsigned kConnectionTimeoutSeconds = 10;

bool SameText(const char* Given, const std::string& Wanted) {
  // Compared in full whatever the first difference, so the time tells nothing of the secret.
  if (!Given) return false;
  const std::size_t length = std::strlen(Given);
  unsigned char difference = length == Wanted.size() ? 0 : 1;
  for (std::size_t index = 0; index < Wanted.size(); ++index)
    difference |= static_cast<unsigned char>(Wanted[index] ^ (index < length ? Given[index] : 0));
  return difference == 0;
}

struct TAddress {
  sockaddr_storage Storage{};
  bool V6 = false;
};

TAddress Resolve(const THttpSetup& Setup) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const bool any = Setup.Host.empty() || Setup.Host == "*";
  const std::string port = std::to_string(Setup.Port);
  if (const int error =
          getaddrinfo(any ? nullptr : Setup.Host.c_str(), port.c_str(), &hints, &found);
      error != 0)
    throw std::runtime_error("cannot listen on " + Setup.Host + ":" + port + ": " +
                             gai_strerror(error));
  TAddress address;
  std::memcpy(&address.Storage, found->ai_addr, found->ai_addrlen);
  address.V6 = found->ai_family == AF_INET6;
  freeaddrinfo(found);
  return address;
}

}  // namespace

struct THttpEndpoint::TDaemon {
  THttpSetup Setup;
  THttpHandler Handler;
  MHD_Daemon* Handle = nullptr;
  ~TDaemon() {
    if (Handle) MHD_stop_daemon(Handle);
  }
};

bool ParseListenAddress(const std::string& Text, THttpSetup& Setup) {
  const std::size_t colon = Text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = Text.substr(0, colon);
  if (host.starts_with("[") && host.ends_with("]")) host = host.substr(1, host.size() - 2);
  const std::optional<std::int64_t> port = ParseDecimalInteger(Text.substr(colon + 1));
  if (!port || *port < 1 || *port > 65535 || host.find_first_of("[]") != std::string::npos)
    return false;
  Setup.Host = host;
  Setup.Port = static_cast<std::uint16_t>(*port);
  return true;
}

namespace {

MHD_Result Answer(void* Context, MHD_Connection* Connection, const char* Url, const char* Method,
                  const char*, const char*, size_t* UploadSize, void** Request) {
  const auto& daemon = *static_cast<const THttpEndpoint::TDaemon*>(Context);
  // The first call only announces the request; its body (none for a GET) would follow.
  if (*Request == nullptr) {
    *Request = Connection;
    return MHD_YES;
  }
  if (*UploadSize != 0) return MHD_NO;
  const THttpSetup& setup = daemon.Setup;
  THttpResponse response{405, "text/plain; charset=utf-8", "only GET is served\n"};
  bool allowed = true;
  if (!setup.User.empty()) {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(Connection, &password);
    allowed = SameText(user, setup.User) && SameText(password, setup.Password);
    MHD_free(user);
    MHD_free(password);
  }
  if (allowed && (std::strcmp(Method, "GET") == 0 || std::strcmp(Method, "HEAD") == 0))
    response = daemon.Handler(Url);
  MHD_Response* reply = MHD_create_response_from_buffer(response.Body.size(), response.Body.data(),
                                                        MHD_RESPMEM_MUST_COPY);
  if (!reply) return MHD_NO;
  MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.ContentType.c_str());
  const MHD_Result queued = allowed ? MHD_queue_response(Connection, response.Status, reply)
                                    : MHD_queue_basic_auth_fail_response(Connection, "kvx", reply);
  MHD_destroy_response(reply);
  return queued;
}

}  // namespace

THttpEndpoint::THttpEndpoint(const THttpSetup& Setup, THttpHandler Handler)
    : FDaemon(std::make_unique<TDaemon>(Setup, std::move(Handler))) {
  const THttpSetup& setup = FDaemon->Setup;
  const TAddress address = Resolve(setup);
  const bool tls = !setup.TlsCertificate.empty();
  if (tls && !MHD_is_feature_supported(MHD_FEATURE_TLS))
    throw std::runtime_error("this HTTP library offers no TLS");
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (address.V6) flags |= MHD_USE_IPv6;
  if (tls) flags |= MHD_USE_TLS;
  FDaemon->Handle = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Answer, FDaemon.get(), MHD_OPTION_SOCK_ADDR, &address.Storage,
      MHD_OPTION_THREAD_POOL_SIZE, kServerThreads, MHD_OPTION_CONNECTION_TIMEOUT,
      kConnectionTimeoutSeconds, tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END,
      setup.TlsCertificate.c_str(), MHD_OPTION_HTTPS_MEM_KEY, setup.TlsKey.c_str(), MHD_OPTION_END);
  if (!FDaemon->Handle)
    throw std::runtime_error("cannot listen on " + setup.Host + ":" + std::to_string(setup.Port) +
                             ": " + std::strerror(errno));
}

THttpEndpoint::~THttpEndpoint() = default;

std::uint16_t THttpEndpoint::Port() const {
  const MHD_DaemonInfo* info = MHD_get_daemon_info(FDaemon->Handle, MHD_DAEMON_INFO_BIND_PORT);
  return info ? info->port : FDaemon->Setup.Port;
}
