#include "tests/net/Ser2net.h"

#include <fstream>

std::string TSer2net::Program() {
  return TLoopbackDaemon::Find(
      {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"});
}

TSer2net::TSer2net(std::string Device, bool Rfc2217, std::string LineSettings)
    : FRfc2217(Rfc2217),
      FDaemon(Program(), [Device, Rfc2217, LineSettings](const std::string& Dir, int Port) {
        const std::string config = Dir + "/ser2net.yaml";
        std::ofstream yaml(config);
        yaml << "connection: &kvx\n"
             << "  accepter: " << (Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1,"
             << Port << "\n"
             << "  connector: serialdev," << Device << "," << LineSettings << ",local\n";
        return std::vector<std::string>{"-n", "-d", "-c", config};
      }) {}

std::string TSer2net::Url() const {
  return std::string(FRfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(Port());
}
