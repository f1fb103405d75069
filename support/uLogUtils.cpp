#include "support/uLogUtils.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "support/uFileUtils.h"
#include "support/uLogState.h"
#include "support/uPaths.h"
#include "support/uProgramArgs.h"
#include "support/uStringUtils.h"

namespace {

constexpr char kTimeSeparator = ':';

std::atomic<bool> gDebugSwitch{false};
std::atomic<bool> gClosing{true};
std::atomic<pid_t> gMainThread{0};

std::string FormatTime(const TDateTimeParts& t) {
  return Format("%02d%c%02d%c%02d%c%03d", t.Hour, kTimeSeparator, t.Minute, kTimeSeparator,
                t.Second, kTimeSeparator, t.Millisecond);
}

// Seconds since 1970 at which the machine booted, 0 when unknown.
int64_t BootTime() {
  static const int64_t bootTime = [] {
    std::ifstream in("/proc/stat");
    std::string key;
    int64_t value = 0;
    while (in >> key) {
      if (key == "btime" && in >> value) return value;
      in.ignore(1 << 20, '\n');
    }
    return int64_t{0};
  }();
  return bootTime;
}

// The thread's start as a system file time, from its start tick count since boot.
std::optional<uint64_t> ThreadCreationFileTime(pid_t tid) {
  const int64_t bootTime = BootTime();
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  if (bootTime <= 0 || ticksPerSecond <= 0) return std::nullopt;
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return std::nullopt;
  // The command name in parentheses may hold blanks; the fields after it start at 3.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int number = 3; number < 22; ++number) fields >> field;
  uint64_t startTicks = 0;
  if (!(fields >> startTicks)) return std::nullopt;
  const uint64_t ticks = static_cast<uint64_t>(ticksPerSecond);
  return FileTimeUnixEpoch + static_cast<uint64_t>(bootTime) * 10000000 +
         startTicks / ticks * 10000000 + startTicks % ticks * 10000000 / ticks;
}

// ";" tid [";" creation time] for threads other than the main thread.
std::string ThreadFields() {
  const pid_t tid = ::gettid();
  if (tid == gMainThread.load()) return std::string();
  std::string fields = ";" + std::to_string(static_cast<uint32_t>(tid));
  const std::optional<uint64_t> created = ThreadCreationFileTime(tid);
  if (!created) return fields;
  fields += ';';
  TDateTime time = 0;
  if (FileTimeToDateTime(*created, time)) {
    const TDateTimeParts t = DecodeDateTime(time);
    fields += Format("%04d-%02d-%02d %02d%c%02d%c%02d", t.Year, t.Month, t.Day, t.Hour,
                     kTimeSeparator, t.Minute, kTimeSeparator, t.Second);
  }
  return fields;
}

// Creates the day's first free file in Directory; a file or link that exists is never
// touched. False when the directory cannot take a file.
bool CreateDayFile(TLogState& state, std::string directory, const TDateTimeParts& now,
                   int32_t today) {
  if (directory.back() != '/') directory += '/';
  const std::string prefix = directory + Format("%04d%02d%02d_", now.Year, now.Month, now.Day);
  for (unsigned n = 0; n < 100000; ++n) {
    const std::string path = prefix + std::to_string(n) + ".log";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      state.FFd = fd;
      state.FFileName = path;
      state.FLogDay = today;
      if (state.FOnOpened) state.FOnOpened(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Next to a program that may keep files there and can write there, else in the user's
// private state folder: an installed program never writes beside itself, even as root.
void OpenDayFile(TLogState& state, const TDateTimeParts& now, int32_t today) {
  const std::string own = state.FDirectory.empty() ? OwnProgramDir() : state.FDirectory;
  if (!own.empty() && CreateDayFile(state, own, now, today)) return;
  const std::string stateDir = ProgramSubdir(XdgStateHome());
  if (MakePrivateDir(stateDir)) CreateDayFile(state, stateDir, now, today);
}

void WriteLine(int fd, const std::string& line) {
  if (WriteAll(fd, line) == 0) ::fdatasync(fd);
}

}  // namespace

void DebugLog(std::string_view Text, const TLogSender* Sender, int32_t Code, int32_t Point) {
  if (!gDebugSwitch.load(std::memory_order_relaxed)) return;
  if (gClosing.load()) return;
  try {
    std::string tail;
    if (Sender) {
      tail += ';' + Sender->ClassName();
      if (const std::optional<std::string> name = Sender->ComponentName())
        tail += '(' + *name + ')';
    }
    if (Code != 0) tail += ';' + std::to_string(Code);
    if (Point != 0) tail += ';' + std::to_string(Point);
    tail += ThreadFields();
    tail += "\r\n";

    TLogState& state = DebugLogState();
    std::lock_guard lock(state.FLock);
    // A call that passed the first test while shutdown ran must not open a new file.
    if (gClosing.load()) return;
    const TDateTime moment = state.FClock ? state.FClock() : Now();
    const TDateTimeParts now = DecodeDateTime(moment);
    const int32_t today = DateOf(moment);
    if (state.FFd < 0 || today != state.FLogDay) {
      state.Close();
      OpenDayFile(state, now, today);
    }
    if (state.FFd < 0) return;
    std::string line = FormatTime(now);
    line += ';';
    line += Text;
    line += tail;
    WriteLine(state.FFd, line);
  } catch (...) {
    // The trace never disturbs its caller (a sender that throws, memory running out).
  }
}

void StartDebugLog() {
  gDebugSwitch = HasSwitch("DEBUG");
  gMainThread = ::gettid();
  gClosing = false;
}

void ShutdownDebugLog() {
  gClosing = true;
  TLogState& state = DebugLogState();
  std::lock_guard lock(state.FLock);
  state.Close();
}

void SetDebugLogOpenedHandler(std::function<void(const std::string&)> Handler) {
  TLogState& state = DebugLogState();
  std::lock_guard lock(state.FLock);
  state.FOnOpened = std::move(Handler);
}

TLogState& DebugLogState() {
  static TLogState state;
  return state;
}
