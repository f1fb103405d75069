#include "comm/uRefusedPort.h"

#include "serial/AfPortMap.h"
#include "support/uCodePage.h"

std::string RefusedPortText(ICommunicationInterface& Channel) {
  const std::string name = Channel.GetPortName();
  const std::string node = Channel.GetDeviceNode();
  if (node.empty()) return name;
  const std::string group = AfNodeGroup(node);
  return name + " (" + Utf8ToCp1250(node + (group.empty() ? "" : ", group " + group)) + ")";
}
