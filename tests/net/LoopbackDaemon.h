#pragma once
// A program of the system (ser2net, a broker) serving on a free port of 127.0.0.1 with a
// configuration of the test's own in a temporary folder, started and killed by the test.
#include <sys/types.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class TLoopbackDaemon {
 public:
  // The first of Candidates that is installed, or an empty text.
  static std::string Find(std::initializer_list<const char*> Candidates);

  // Writes the configuration for a port into the folder and answers the program's arguments.
  using TConfigure = std::function<std::vector<std::string>(const std::string& Dir, int Port)>;

  // Starts Program on a free port; returns once it accepts connections. Raises
  // std::runtime_error, naming its log, when it cannot be started.
  TLoopbackDaemon(std::string Program, TConfigure Configure);
  ~TLoopbackDaemon();
  TLoopbackDaemon(const TLoopbackDaemon&) = delete;
  TLoopbackDaemon& operator=(const TLoopbackDaemon&) = delete;

  int Port() const { return FPort; }
  const std::string& Dir() const { return FDir; }
  // Ends it at once (SIGKILL), as a crashing or rebooting server would.
  void Kill();
  // Starts it again on the same port.
  void Restart();

 private:
  bool Start();
  bool WaitUntilAccepting();

  std::string FProgram;
  TConfigure FConfigure;
  std::string FDir;
  int FPort = 0;
  pid_t FPid = -1;
};
