#pragma once
// A small HTTP server for read-only pages: each GET is answered by a handler on one of the
// server's own threads, so any number of requests may come at once. Optional TLS and basic
// authentication.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct THttpSetup {
  std::string Host = "127.0.0.1";  // a numeric address or a name; "" or "*": every address
  std::uint16_t Port = 0;          // 0: any free port
  std::string TlsCertificate;      // PEM texts; both or neither
  std::string TlsKey;
  std::string User;  // not empty: basic authentication with User and Password
  std::string Password;
};

struct THttpResponse {
  int Status = 200;
  std::string ContentType;
  std::string Body;
};

using THttpHandler = std::function<THttpResponse(const std::string& Path)>;

// "HOST:PORT", "[::1]:PORT" or ":PORT" into Host and Port; false when it is none of them.
bool ParseListenAddress(const std::string& Text, THttpSetup& Setup);

class THttpEndpoint {
 public:
  // Listens at once; raises std::runtime_error naming the address when it cannot.
  THttpEndpoint(const THttpSetup& Setup, THttpHandler Handler);
  ~THttpEndpoint();
  THttpEndpoint(const THttpEndpoint&) = delete;
  THttpEndpoint& operator=(const THttpEndpoint&) = delete;

  // The port listened on (the one chosen when Setup asked for any).
  std::uint16_t Port() const;

  struct TDaemon;  // the library's side, its requests' handler among it

 private:
  std::unique_ptr<TDaemon> FDaemon;
};
