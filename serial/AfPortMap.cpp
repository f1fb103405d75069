#include "serial/AfPortMap.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "support/uPaths.h"
#include "support/uStringUtils.h"

namespace {

bool ParsePortNumber(std::string_view Text, std::int32_t& Port) {
  if (Text.empty() || Text.size() > 5) return false;
  std::int32_t value = 0;
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  Port = value;
  return true;
}

// Says once per distinct text what is wrong with the variable, so a typo does not go unseen.
void WarnOnce(const std::string& Source, const std::string& Text) {
  static std::mutex lock;
  static std::set<std::string> said;
  std::lock_guard guard(lock);
  if (said.insert(Source + Text).second)
    std::fprintf(stderr, "%s: %s\n", Source.c_str(), Text.c_str());
}

}  // namespace

std::string AfParseComPortMap(std::string_view Text, std::map<std::int32_t, std::string>& Map) {
  std::string error;
  while (!Text.empty()) {
    std::size_t end = Text.find(';');
    std::string_view item = Text.substr(0, end);
    Text = end == std::string_view::npos ? std::string_view() : Text.substr(end + 1);
    std::string entry = Trim(item);
    if (entry.empty()) continue;
    std::size_t eq = entry.find('=');
    std::int32_t port;
    std::string path = eq == std::string::npos ? std::string() : Trim(entry.substr(eq + 1));
    if (eq == std::string::npos || !ParsePortNumber(Trim(entry.substr(0, eq)), port) ||
        path.empty()) {
      if (error.empty()) error = "malformed entry \"" + entry + "\" (expected number=path)";
      continue;
    }
    Map[port] = path;
  }
  return error;
}

std::string AfPortsFilePath() {
  return ProgramSubdir(XdgConfigHome()) + "/ports";
}

std::string AfComPortPath(std::int32_t Port) {
  std::map<std::int32_t, std::string> map;
  const std::string filePath = AfPortsFilePath();
  if (std::ifstream file{filePath}) {
    std::ostringstream lines;
    for (std::string line; std::getline(file, line);)
      if (Trim(line).rfind('#', 0) != 0) lines << line << ';';
    const std::string error = AfParseComPortMap(lines.str(), map);
    if (!error.empty()) WarnOnce(filePath, error);
  }
  if (const char* env = std::getenv("KVX_COMPORTS")) {
    const std::string error = AfParseComPortMap(env, map);
    if (!error.empty()) WarnOnce("KVX_COMPORTS", error);
  }
  if (auto it = map.find(Port); it != map.end()) return it->second;
  if (Port >= 1 && Port <= 32) return Format("/dev/ttyS%d", Port - 1);
  if (Port >= 33 && Port <= 64) return Format("/dev/ttyUSB%d", Port - 33);
  if (Port >= 65 && Port <= 96) return Format("/dev/ttyACM%d", Port - 65);
  return {};
}

bool AfIsEmptyLegacyPort(const std::string& Path) {
  std::size_t slash = Path.rfind('/');
  std::string name = Path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0 ||
      name.find_first_not_of("0123456789", 4) != std::string::npos)
    return false;
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int value = -1;
  return type >> value && value == 0;
}

std::string AfNodeGroup(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return {};
  group entry{};
  group* found = nullptr;
  std::string buffer(4096, '\0');
  while (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(buffer.size() * 2);
  return found ? std::string(found->gr_name) : std::to_string(info.st_gid);
}
