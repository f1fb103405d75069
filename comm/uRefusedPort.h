#pragma once
// How a port refused for want of permission is named to the user who may fix it.
#include <string>

#include "comm/uci_ICommunicationInterface.h"

// "COM5 (/dev/ttyUSB0, group dialout)": the port, the node behind it and the group that owns
// the node, in Windows-1250 as port names are. The port name alone when no node is behind it,
// the group left out when the node cannot be looked at.
std::string RefusedPortText(ICommunicationInterface& Channel);
