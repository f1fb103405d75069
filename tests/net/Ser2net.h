#pragma once
// The real ser2net serving one serial device on 127.0.0.1, started and killed by the test.
#include <string>

#include "tests/net/LoopbackDaemon.h"

class TSer2net {
 public:
  // The installed program, or an empty text when ser2net is not installed.
  static std::string Program();

  // Serves Device with an accepter "telnet(rfc2217),tcp,..." (Rfc2217) or "tcp,..." (raw), on
  // a free port of 127.0.0.1, the line opened with LineSettings ("9600n81"). Returns once it
  // accepts connections; raises std::runtime_error when it cannot be started.
  TSer2net(std::string Device, bool Rfc2217, std::string LineSettings = "9600n81");

  int Port() const { return FDaemon.Port(); }
  // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
  std::string Url() const;
  // Ends it at once (SIGKILL), as a crashing or rebooting server would.
  void Kill() { FDaemon.Kill(); }
  // Starts it again on the same port.
  void Restart() { FDaemon.Restart(); }

 private:
  bool FRfc2217;
  TLoopbackDaemon FDaemon;
};
