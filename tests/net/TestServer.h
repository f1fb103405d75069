#pragma once
// A TCP server on 127.0.0.1 for the serial device server tests, driven by the test itself:
// it accepts, reads what the channel sent, answers and hangs up when told.
#include <chrono>
#include <string>
#include <string_view>

// Points COM9 at Url for the lifetime of the object.
class TPortEntry {
 public:
  explicit TPortEntry(const std::string& Url);
  ~TPortEntry();
  TPortEntry(const TPortEntry&) = delete;
  TPortEntry& operator=(const TPortEntry&) = delete;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLocalPort();

// A listener on loopback (127.0.0.1, or ::1 with V6) whose queue is full: a connection attempt
// to it goes unanswered, as to a host that is silent. Port 0: one the system chooses.
class TFullListener {
 public:
  explicit TFullListener(bool V6 = false, int Port = 0);
  ~TFullListener();
  TFullListener(const TFullListener&) = delete;
  TFullListener& operator=(const TFullListener&) = delete;
  int Port() const { return FPort; }

 private:
  int FListener = -1;
  int FFiller = -1;
  int FPort = 0;
};

class TTestServer {
 public:
  TTestServer();  // listening on a port the system chose
  ~TTestServer();
  TTestServer(const TTestServer&) = delete;
  TTestServer& operator=(const TTestServer&) = delete;

  int Port() const { return FPort; }
  std::string Url(const char* Scheme) const;
  // Takes the next connection, waiting up to Limit; false when none came.
  bool Accept(std::chrono::milliseconds Limit = std::chrono::seconds(5));
  // What the client sent, once at least Count bytes are there or Limit has passed; the
  // connection ends when the client hung up.
  std::string Receive(std::size_t Count, std::chrono::milliseconds Limit = std::chrono::seconds(5));
  void Send(std::string_view Bytes);
  void Hangup();
  // Whether a connection is open: taken, and neither side has hung up as far as seen.
  bool Connected() const { return FConnection >= 0; }
  // Whether the client closed the connection within Limit (what it sent meanwhile is dropped).
  bool ClientHungUp(std::chrono::milliseconds Limit = std::chrono::seconds(5));

 private:
  int FListener = -1;
  int FConnection = -1;
  int FPort = 0;
};
