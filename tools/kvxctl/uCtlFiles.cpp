#include "tools/kvxctl/uCtlFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

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

// A write goes first to ".kvxctl-NAME.XXXXXX" (mkstemp's six letters), a name no user gives
// a file, so that what a killed run left is told from a user's own dot-files.
constexpr std::string_view kTemporaryPrefix = ".kvxctl-";
constexpr std::string_view kTemporarySuffix = ".XXXXXX";

bool IsLeftTemporary(const std::string& Name) {
  return Name.starts_with(kTemporaryPrefix) &&
         Name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() &&
         Name[Name.size() - kTemporarySuffix.size()] == '.';
}

// Only the holder of the directory's lock looks for them; one untouched for a minute is left
// by a killed run (a write in progress is milliseconds old).
void RemoveLeftTemporaries(const std::string& Dir) {
  namespace fs = std::filesystem;
  constexpr auto kQuiet = std::chrono::minutes(1);
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (const fs::directory_entry& entry : fs::directory_iterator(Dir, error))
    if (IsLeftTemporary(entry.path().filename().string()) && entry.is_regular_file(error) &&
        now - entry.last_write_time(error) >= kQuiet)
      fs::remove(entry.path(), error);
}

}  // namespace

std::string ReadTextFile(const std::string& File, std::size_t Largest) {
  std::ifstream in(File, std::ios::binary);
  if (!in) throw TCtlError(ceUsage, "cannot read " + File);
  std::string text;
  std::array<char, 64 * 1024> chunk;
  while (text.size() <= Largest && in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw TCtlError(ceUsage, "cannot read " + File);
  return text;
}

void WriteFileAtomically(const std::string& File, const std::string& Text) {
  const std::filesystem::path path(File);
  std::string temporary =
      (path.parent_path() /
       (std::string(kTemporaryPrefix) + path.filename().string() + std::string(kTemporarySuffix)))
          .string();
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
