#pragma once
// Which device node is COM port n: COM1-32 are /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31 and
// COM65-96 /dev/ttyACM0-31; entries of the file $XDG_CONFIG_HOME/kvxsetup/ports (one a line)
// and of the environment variable KVX_COMPORTS, such as "7=/dev/pts/3;9=rfc2217://gw:4001",
// add ports or override these, the environment winning over the file. An entry may name a
// device node or a serial device server's connection URL.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// COM ports are listed, probed and followed from 1 up to this number.
inline constexpr std::int32_t kHighestProbedComPort = 255;

// The node (or connection URL) of port Port, or an empty text when the number maps to none.
std::string AfComPortPath(std::int32_t Port);
// Parses a KVX_COMPORTS text into Map (entries added or replaced). Returns what is wrong
// with each malformed entry, naming it, one a line, or an empty text; good entries are taken
// either way, and so is a malformed URL, so that its port names the fault when opened.
std::string AfParseComPortMap(std::string_view Text, std::map<std::int32_t, std::string>& Map);
// The same for the text of a ports file: entries one a line (or several, separated by ';'),
// lines starting with '#' ignored; each error names its line.
std::string AfParsePortsFile(std::string_view Text, std::map<std::int32_t, std::string>& Map);
// A legacy /dev/ttySn node with no UART behind it (its sysfs type is 0): no port at all.
bool AfIsEmptyLegacyPort(const std::string& Path);
// The group owning the node Path (links followed), by name or else by number; empty when the
// node cannot be looked at.
std::string AfNodeGroup(const std::string& Path);
// The file of port entries in the user's configuration directory.
std::string AfPortsFilePath();
