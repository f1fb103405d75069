#include "comm/uRefusedPort.h"

#include <cstdint>

#include "comm/uci_ISerialPortInterface.h"
#include "serial/AfPortMap.h"
#include "support/uCodePage.h"

std::string RefusedPortText(ICommunicationInterface& Channel) {
  const std::string name = Channel.GetPortName();
  std::uint16_t number = 0;
  const std::string node = ConnectionPortNumber(name, number) ? AfComPortPath(number) : "";
  if (node.empty()) return name;
  const std::string group = AfNodeGroup(node);
  return name + " (" + Utf8ToCp1250(node + (group.empty() ? "" : ", group " + group)) + ")";
}
