#pragma once
// A relay on 127.0.0.1 that passes every byte on to a local port and back, each one late by
// a fixed delay in either direction: a slow link (a VPN, a radio bridge) in a test.
#include <chrono>
#include <thread>

class TDelayRelay {
 public:
  TDelayRelay(int TargetPort, std::chrono::milliseconds Delay);
  ~TDelayRelay();
  TDelayRelay(const TDelayRelay&) = delete;
  TDelayRelay& operator=(const TDelayRelay&) = delete;

  int Port() const { return FPort; }

 private:
  void Run();
  // Relays one connection until either side closes it or the relay stops.
  void Pump(int Client, int Upstream);

  int FTargetPort;
  std::chrono::milliseconds FDelay;
  int FListener = -1;
  int FPort = 0;
  int FStop = -1;
  std::thread FThread;
};
