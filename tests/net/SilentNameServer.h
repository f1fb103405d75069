#pragma once
// A name server that never answers, for this process only: a private user, mount and network
// namespace with loopback up, a UDP socket on 127.0.0.1:53 that reads nothing, and
// /etc/resolv.conf replaced by one that names it; /etc/hosts replaced too when asked. Entering
// needs a process with one thread, so tests enter it in a child run of their own program
// (RunThisProgram).
#include <string>
#include <vector>

class TSilentNameServer {
 public:
  TSilentNameServer() = default;
  ~TSilentNameServer();
  TSilentNameServer(const TSilentNameServer&) = delete;
  TSilentNameServer& operator=(const TSilentNameServer&) = delete;

  // An empty text once entered, otherwise why it cannot be done on this machine. Hosts, when
  // given, is the whole of /etc/hosts.
  std::string Enter(const std::string& Hosts = {});

 private:
  // Mounts a file of Text over Target.
  std::string Replace(const char* Target, const std::string& Text);

  int FSocket = -1;
  std::vector<std::string> FFiles;
};

// Takes the loopback interface of the private network namespace up or down (a link that
// stalls: nothing passes, nothing is refused).
bool SetLoopbackUp(bool Up);

// Runs this program again with Arguments and the variable Name set to 1, its output in
// Output; its exit status.
int RunThisProgram(const std::string& Arguments, const char* Name, std::string& Output);
