#include "serial/AfPortMap.h"

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
  std::int32_t Value = 0;
  for (char C : Text) {
    if (C < '0' || C > '9') return false;
    Value = Value * 10 + (C - '0');
  }
  if (Value < 1 || Value > 65535) return false;
  Port = Value;
  return true;
}

// Says once per distinct text what is wrong with the variable, so a typo does not go unseen.
void WarnOnce(const std::string& Source, const std::string& Text) {
  static std::mutex Lock;
  static std::set<std::string> Said;
  std::lock_guard Guard(Lock);
  if (Said.insert(Source + Text).second)
    std::fprintf(stderr, "%s: %s\n", Source.c_str(), Text.c_str());
}

}  // namespace

std::string AfParseComPortMap(std::string_view Text, std::map<std::int32_t, std::string>& Map) {
  std::string Error;
  while (!Text.empty()) {
    std::size_t End = Text.find(';');
    std::string_view Item = Text.substr(0, End);
    Text = End == std::string_view::npos ? std::string_view() : Text.substr(End + 1);
    std::string Entry = Trim(Item);
    if (Entry.empty()) continue;
    std::size_t Eq = Entry.find('=');
    std::int32_t Port;
    std::string Path = Eq == std::string::npos ? std::string() : Trim(Entry.substr(Eq + 1));
    if (Eq == std::string::npos || !ParsePortNumber(Trim(Entry.substr(0, Eq)), Port) ||
        Path.empty()) {
      if (Error.empty()) Error = "malformed entry \"" + Entry + "\" (expected number=path)";
      continue;
    }
    Map[Port] = Path;
  }
  return Error;
}

std::string AfPortsFilePath() {
  return ProgramSubdir(XdgConfigHome()) + "/ports";
}

std::string AfComPortPath(std::int32_t Port) {
  std::map<std::int32_t, std::string> Map;
  const std::string FilePath = AfPortsFilePath();
  if (std::ifstream File{FilePath}) {
    std::ostringstream Lines;
    for (std::string Line; std::getline(File, Line);)
      if (Trim(Line).rfind('#', 0) != 0) Lines << Line << ';';
    const std::string Error = AfParseComPortMap(Lines.str(), Map);
    if (!Error.empty()) WarnOnce(FilePath, Error);
  }
  if (const char* Env = std::getenv("KVX_COMPORTS")) {
    const std::string Error = AfParseComPortMap(Env, Map);
    if (!Error.empty()) WarnOnce("KVX_COMPORTS", Error);
  }
  if (auto It = Map.find(Port); It != Map.end()) return It->second;
  if (Port >= 1 && Port <= 32) return Format("/dev/ttyS%d", Port - 1);
  if (Port >= 33 && Port <= 64) return Format("/dev/ttyUSB%d", Port - 33);
  if (Port >= 65 && Port <= 96) return Format("/dev/ttyACM%d", Port - 65);
  return {};
}

bool AfIsEmptyLegacyPort(const std::string& Path) {
  std::size_t Slash = Path.rfind('/');
  std::string Name = Path.substr(Slash == std::string::npos ? 0 : Slash + 1);
  if (Name.size() < 5 || Name.compare(0, 4, "ttyS") != 0 ||
      Name.find_first_not_of("0123456789", 4) != std::string::npos)
    return false;
  std::ifstream Type("/sys/class/tty/" + Name + "/type");
  int Value = -1;
  return Type >> Value && Value == 0;
}
