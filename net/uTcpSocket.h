#pragma once
// A non-blocking TCP connection to a serial device server, closed with its object. Nothing
// here listens: the program only ever connects out.
#include <chrono>
#include <string>
#include <string_view>

enum class TTcpResult { Done, Refused, TimedOut, Gone, Failed };

class TTcpSocket {
 public:
  TTcpSocket() = default;
  ~TTcpSocket();
  TTcpSocket(TTcpSocket&& Other) noexcept;
  TTcpSocket& operator=(TTcpSocket&& Other) noexcept;
  TTcpSocket(const TTcpSocket&) = delete;
  TTcpSocket& operator=(const TTcpSocket&) = delete;

  // Resolves Host once and tries its addresses in turn until one accepts; the whole attempt,
  // resolution aside, ends after Limit, which is also how long sent bytes may stay
  // unacknowledged before the connection counts as lost. Error gets the system's words.
  TTcpResult Connect(const std::string& Host, const std::string& Port,
                     std::chrono::milliseconds Limit, std::string& Error);
  // Sends all of Data, waiting at most Limit for room in the send queue.
  TTcpResult Send(std::string_view Data, std::chrono::milliseconds Limit, std::string& Error);
  // Reads what has arrived into Data (cleared first): Done with bytes, Done with none when
  // nothing waits, Gone when the server closed or reset the connection.
  TTcpResult Receive(std::string& Data, std::string& Error);
  void Close();

  int Handle() const { return FHandle; }
  explicit operator bool() const { return FHandle >= 0; }

 private:
  int FHandle = -1;
};
