#include "serial/AfPortMap.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>

#include "serial/uSerialServerUrl.h"
#include "support/uLogUtils.h"
#include "support/uPaths.h"
#include "support/uStringUtils.h"

namespace {

bool IsNumber(std::string_view Text) {
  return !Text.empty() && Text.size() <= 5 &&
         Text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Says once per distinct text what is wrong with the entries, so a typo does not go unseen.
void WarnOnce(const std::string& Source, const std::string& Text) {
  static std::mutex lock;
  static std::set<std::string> said;
  std::lock_guard guard(lock);
  if (!said.insert(Source + Text).second) return;
  std::istringstream lines(Text);
  for (std::string line; std::getline(lines, line);) {
    std::fprintf(stderr, "%s: %s\n", Source.c_str(), line.c_str());
    DebugLog(Source + ": " + line);
  }
}

// An entry as a message shows it: a NUL would end the message there.
std::string Visible(const std::string& Entry) {
  std::string shown;
  for (char c : Entry) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  return shown;
}

// Takes one entry "N=path" into Map; what is wrong with it, or an empty text.
std::string ParseEntry(const std::string& Entry, std::map<std::int32_t, std::string>& Map) {
  const std::string named = "malformed entry \"" + Visible(Entry) + "\" (";
  const std::size_t eq = Entry.find('=');
  const std::string path = eq == std::string::npos ? std::string() : Trim(Entry.substr(eq + 1));
  const std::string number = eq == std::string::npos ? std::string() : Trim(Entry.substr(0, eq));
  if (path.empty() || !IsNumber(number)) return named + "expected number=path)";
  const std::int32_t port = std::stoi(number);
  if (port < 1 || port > kHighestProbedComPort)
    return named + Format("COM numbers 1 to %d)", static_cast<int>(kHighestProbedComPort));
  // The system would open (or resolve) the name before the NUL: another port than named.
  if (path.find('\0') != std::string::npos) return named + "a NUL in the path)";
  // A bad URL still claims its number: the port then says what is wrong when it is opened,
  // rather than falling back to the device node of that number.
  Map[port] = path;
  if (path.find("://") == std::string::npos) return {};
  try {
    ParseSerialServerUrl(path);
  } catch (const std::exception& error) {
    return named + error.what() + ")";
  }
  return {};
}

// Takes the entries of Text, separated by ';', into Map; each error goes to Errors on a line
// of its own, after Where.
void ParseEntries(std::string_view Text, const std::string& Where,
                  std::map<std::int32_t, std::string>& Map, std::string& Errors) {
  while (!Text.empty()) {
    const std::size_t end = Text.find(';');
    const std::string entry = Trim(Text.substr(0, end));
    Text = end == std::string_view::npos ? std::string_view() : Text.substr(end + 1);
    if (entry.empty()) continue;
    if (const std::string error = ParseEntry(entry, Map); !error.empty())
      Errors += (Errors.empty() ? "" : "\n") + Where + error;
  }
}

}  // namespace

std::string AfParseComPortMap(std::string_view Text, std::map<std::int32_t, std::string>& Map) {
  std::string errors;
  ParseEntries(Text, {}, Map, errors);
  return errors;
}

std::string AfParsePortsFile(std::string_view Text, std::map<std::int32_t, std::string>& Map) {
  std::string errors;
  int number = 0;
  while (!Text.empty()) {
    const std::size_t end = Text.find('\n');
    const std::string_view line = Text.substr(0, end);
    Text = end == std::string_view::npos ? std::string_view() : Text.substr(end + 1);
    ++number;
    if (Trim(line).rfind('#', 0) != 0) ParseEntries(line, Format("line %d: ", number), Map, errors);
  }
  return errors;
}

std::string AfPortsFilePath() {
  return ProgramSubdir(XdgConfigHome()) + "/ports";
}

namespace {

// The entries of the ports file, read once for as long as the file stays as it was (its
// node, size and time of change): a command asks for every port's path, and the file may be
// long.
struct TPortsFileCache {
  std::mutex Lock;
  bool Valid = false;
  std::string Path;
  std::uintmax_t Node = 0, Size = 0;
  std::int64_t Changed = 0, ChangedNs = 0;
  std::map<std::int32_t, std::string> Map;
};

TPortsFileCache& PortsFileCache() {
  static TPortsFileCache cache;
  return cache;
}

std::map<std::int32_t, std::string> PortsFileEntries(const std::string& FilePath) {
  struct stat status {};
  const bool exists = ::stat(FilePath.c_str(), &status) == 0;
  TPortsFileCache& cache = PortsFileCache();
  std::lock_guard lock(cache.Lock);
  const auto node = exists ? static_cast<std::uintmax_t>(status.st_ino) : 0;
  const auto size = exists ? static_cast<std::uintmax_t>(status.st_size) : 0;
  const std::int64_t changed = exists ? status.st_mtim.tv_sec : 0;
  const std::int64_t changedNs = exists ? status.st_mtim.tv_nsec : 0;
  if (cache.Valid && cache.Path == FilePath && cache.Node == node && cache.Size == size &&
      cache.Changed == changed && cache.ChangedNs == changedNs)
    return cache.Map;
  std::map<std::int32_t, std::string> map;
  // A FIFO would block the open, a device such as /dev/zero never end: only a file is read.
  std::error_code statusError;
  const auto type = std::filesystem::status(FilePath, statusError).type();
  const bool regular = type == std::filesystem::file_type::regular;
  if (!regular && type != std::filesystem::file_type::not_found &&
      type != std::filesystem::file_type::none)
    WarnOnce(FilePath, "not a regular file; ignored");
  else if (std::ifstream file{FilePath}) {
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (const std::string errors = AfParsePortsFile(text, map); !errors.empty())
      WarnOnce(FilePath, errors);
  }
  // Only a regular file's state tells whether it changed.
  cache.Valid = regular || !exists;
  cache.Path = FilePath;
  cache.Node = node;
  cache.Size = size;
  cache.Changed = changed;
  cache.ChangedNs = changedNs;
  cache.Map = map;
  return map;
}

}  // namespace

std::string AfComPortPath(std::int32_t Port) {
  std::map<std::int32_t, std::string> map = PortsFileEntries(AfPortsFilePath());
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
