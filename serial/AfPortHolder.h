#pragma once
// Who holds a port's lock: the program and process that took the flock on its node, so that an
// operator refused a port knows what to stop ("COM5 is used by kvxctl serve, pid 1234").
#include <string>

// "kvxctl serve, pid 1234": the program (with the words it was started with up to its first
// option) and the process that hold the lock of Node; empty when none can be named.
std::string PortHolder(const std::string& Node);

// "COM5 is used by kvxctl serve, pid 1234", or "COM5 is in use by another program" when the
// holder cannot be named.
std::string PortInUseText(const std::string& Port, const std::string& Node);
