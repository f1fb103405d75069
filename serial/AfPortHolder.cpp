#include "serial/AfPortHolder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "support/uStringUtils.h"

namespace {

// The process holding a lock on the file with Id ("00:05:123", as /proc/locks names files);
// empty when none does.
std::string LockingProcess(const std::string& Id) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    if (line.find("->") != std::string::npos) continue;  // a waiter, not the holder
    std::istringstream words(line);
    const std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
    for (std::size_t index = 1; index < fields.size(); ++index)
      if (fields[index] == Id) return fields[index - 1];
  }
  return {};
}

// "kvxctl serve": the program's name and the words after it up to the first option.
std::string ProgramOf(const std::string& Pid) {
  std::ifstream file("/proc/" + Pid + "/cmdline", std::ios::binary);
  const std::string cmdline{std::istreambuf_iterator<char>(file), {}};
  std::vector<std::string> words;
  std::istringstream parts(cmdline);
  for (std::string word; std::getline(parts, word, '\0');) words.push_back(word);
  if (words.empty()) return {};
  std::string program = words.front().substr(words.front().rfind('/') + 1);
  for (std::size_t index = 1; index < words.size() && !words[index].starts_with("-"); ++index)
    program += " " + words[index];
  return program;
}

}  // namespace

std::string PortHolder(const std::string& Node) {
  struct stat status {};
  if (Node.empty() || ::stat(Node.c_str(), &status) != 0) return {};
  const std::string pid =
      LockingProcess(Format("%02x:%02x:%lu", major(status.st_dev), minor(status.st_dev),
                            static_cast<unsigned long>(status.st_ino)));
  if (pid.empty()) return {};
  const std::string program = ProgramOf(pid);
  return (program.empty() ? "process" : program) + ", pid " + pid;
}

std::string PortInUseText(const std::string& Port, const std::string& Node) {
  const std::string holder = PortHolder(Node);
  return Port + (holder.empty() ? " is in use by another program" : " is used by " + holder);
}
