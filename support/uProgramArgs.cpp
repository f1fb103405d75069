#include "support/uProgramArgs.h"

#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>

#include "support/uStringUtils.h"

namespace {

std::mutex gMutex;
std::optional<std::vector<std::string>> gArgs;

// /proc/self/cmdline: the arguments, each ended by a NUL byte.
std::vector<std::string> ReadCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    args.emplace_back(content, start, end - start);
    start = end + 1;
  }
  return args;
}

const std::vector<std::string>& ArgsLocked() {
  if (!gArgs) gArgs = ReadCommandLine();
  return *gArgs;
}

}  // namespace

const std::vector<std::string>& ProgramArgs() {
  std::lock_guard lock(gMutex);
  return ArgsLocked();
}

void SetProgramArgs(std::vector<std::string> args) {
  std::lock_guard lock(gMutex);
  gArgs = std::move(args);
}

bool IsSwitch(std::string_view argument, std::string_view name) {
  std::string text = Trim(argument);
  if (!text.empty() && (text.front() == '/' || text.front() == '-')) text.erase(0, 1);
  return SameText(text, name);
}

bool HasSwitch(std::string_view name) {
  std::lock_guard lock(gMutex);
  for (const std::string& argument : ArgsLocked())
    if (IsSwitch(argument, name)) return true;
  return false;
}
