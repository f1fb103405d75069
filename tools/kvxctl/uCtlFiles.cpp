#include "tools/kvxctl/uCtlFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/kvxctl/uCtlErrors.h"

namespace {

[[noreturn]] void Fail(const std::string& What, const std::string& File) {
  throw TCtlError(ceUsage, "cannot " + What + " " + File + ": " + std::strerror(errno));
}

// Closes a descriptor when it goes out of scope.
struct TFd {
  int Handle;
  ~TFd() {
    if (Handle >= 0) ::close(Handle);
  }
};

void WriteAll(int Handle, const std::string& Text, const std::string& File) {
  for (std::size_t done = 0; done < Text.size();) {
    const ssize_t written = ::write(Handle, Text.data() + done, Text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) Fail("write", File);
    done += static_cast<std::size_t>(written);
  }
}

// What a killed run left of a write: ".NAME.json.XXXXXX", untouched for a minute (a write in
// progress is milliseconds old). Only the holder of the directory's lock looks for them.
void RemoveLeftTemporaries(const std::string& Dir) {
  namespace fs = std::filesystem;
  constexpr auto kQuiet = std::chrono::minutes(1);
  constexpr std::size_t kSuffix = 7;  // ".XXXXXX" of mkstemp
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with('.') || name.size() <= kSuffix + 1 ||
        name[name.size() - kSuffix] != '.' ||
        !name.substr(0, name.size() - kSuffix).ends_with(".json"))
      continue;
    if (entry.is_regular_file(error) && now - entry.last_write_time(error) >= kQuiet)
      fs::remove(entry.path(), error);
  }
}

}  // namespace

std::string ReadTextFile(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  if (!in) throw TCtlError(ceUsage, "cannot read " + File);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFileAtomically(const std::string& File, const std::string& Text) {
  const std::filesystem::path path(File);
  std::string temporary =
      (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  TFd out{::mkstemp(temporary.data())};
  if (out.Handle < 0) Fail("write", temporary);
  try {
    WriteAll(out.Handle, Text, temporary);
    if (::fchmod(out.Handle, 0644) != 0 || ::fsync(out.Handle) != 0) Fail("write", temporary);
    if (std::rename(temporary.c_str(), File.c_str()) != 0) Fail("write", File);
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
  // The rename itself is kept only once the directory is synced.
  const std::string dir = path.parent_path().empty() ? "." : path.parent_path().string();
  TFd directory{::open(dir.c_str(), O_RDONLY | O_DIRECTORY)};
  if (directory.Handle >= 0) ::fsync(directory.Handle);
}

// The directory itself is locked: a lock file would show in `git status` of a plant's repository.
TDirLock::TDirLock(const std::string& Dir) {
  FHandle = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FHandle < 0) Fail("open", Dir);
  if (::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
    ::close(FHandle);
    throw TCtlError(ceUsage, Dir + " is in use by another kvxctl");
  }
  RemoveLeftTemporaries(Dir);
}

TDirLock::~TDirLock() {
  ::close(FHandle);
}
