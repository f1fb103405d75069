#include "support/uPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

std::string GetExeDir() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return "./";
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
    path.resize(path.size() * 2);  // possibly cut off: try again with more room
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomeDir() {
  std::string home = AbsoluteEnv("HOME");
  if (home.empty()) {
    // No usable $HOME (a service, a stripped environment): ask the user database.
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) home = entry->pw_dir;
  }
  return WithoutTrailingSlashes(home);
}

std::string BaseDir(const char* variable, const char* belowHome) {
  const std::string dir = AbsoluteEnv(variable);
  return dir.empty() ? HomeDir() + belowHome : WithoutTrailingSlashes(dir);
}

}  // namespace

std::string XdgStateHome() {
  return BaseDir("XDG_STATE_HOME", "/.local/state");
}
std::string XdgDataHome() {
  return BaseDir("XDG_DATA_HOME", "/.local/share");
}
std::string XdgConfigHome() {
  return BaseDir("XDG_CONFIG_HOME", "/.config");
}

std::vector<std::string> XdgDataDirs() {
  const char* value = std::getenv("XDG_DATA_DIRS");
  const std::string list = value && *value ? value : "/usr/local/share:/usr/share";
  std::vector<std::string> dirs;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t colon = std::min(list.find(':', start), list.size());
    const std::string entry = WithoutTrailingSlashes(list.substr(start, colon - start));
    if (!entry.empty() && entry[0] == '/') dirs.push_back(entry);
    start = colon + 1;
  }
  return dirs;
}

std::string XdgRuntimeDir() {
  return WithoutTrailingSlashes(AbsoluteEnv("XDG_RUNTIME_DIR"));
}

std::string ProgramSubdir(const std::string& base) {
  return base + "/" + kProgramDirName;
}

std::string LanguageChoiceFile() {
  return ProgramSubdir(XdgConfigHome()) + "/language";
}

std::string ProgramDataDir() {
  const std::filesystem::path dir = std::filesystem::path(GetExeDir()) / ".." / "share";
  return (dir.lexically_normal() / kProgramDirName).string();
}

bool MakePrivateDir(const std::string& Path) {
  if (Path.empty() || Path[0] != '/') return false;
  // Each missing folder on the way is made private too, as the base directories should be.
  for (std::size_t slash = Path.find('/', 1);; slash = Path.find('/', slash + 1)) {
    const std::string part = Path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return IsPrivateDir(Path);
}

bool IsPrivateDir(const std::string& Path) {
  struct stat info {};
  if (::lstat(Path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
