#pragma once
// A non-blocking TCP connection to a serial device server, closed with its object. Host names
// are looked up on threads of their own, so a name server that does not answer costs a
// bounded wait. Nothing here listens: the program only ever connects out.
#include <chrono>
#include <string>
#include <string_view>

enum class TTcpResult { Done, Unresolved, Refused, TimedOut, Gone, Failed };

// How long after one address the next one of the same host is tried.
inline constexpr std::chrono::milliseconds kAttemptDelay{250};

class TTcpSocket {
 public:
  TTcpSocket() = default;
  ~TTcpSocket();
  TTcpSocket(TTcpSocket&& Other) noexcept;
  TTcpSocket& operator=(TTcpSocket&& Other) noexcept;
  TTcpSocket(const TTcpSocket&) = delete;
  TTcpSocket& operator=(const TTcpSocket&) = delete;

  // Resolves Host, waiting at most Limit, and tries its addresses, overlapping, until one
  // accepts, for at most Limit more. Unresolved when the name has no address or its
  // name server does not answer in time. Error gets the system's words.
  TTcpResult Connect(const std::string& Host, const std::string& Port,
                     std::chrono::milliseconds Limit, std::string& Error);
  // Sends all of Data, waiting at most Limit for room in the send queue.
  TTcpResult Send(std::string_view Data, std::chrono::milliseconds Limit, std::string& Error);
  // Reads what has arrived into Data (cleared first): Done with bytes, Done with none when
  // nothing waits, Gone when the server closed or reset the connection.
  TTcpResult Receive(std::string& Data, std::string& Error);
  void Close();
  // The round trip the system measured on the connection's own segments; 0 when unknown.
  std::chrono::microseconds RoundTrip() const;

  int Handle() const { return FHandle; }
  explicit operator bool() const { return FHandle >= 0; }

 private:
  explicit TTcpSocket(int Handle) : FHandle(Handle) {}

  int FHandle = -1;
};
