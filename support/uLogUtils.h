#pragma once
// The diagnostic trace file. Off unless the program is started with the switch "DEBUG";
// then every DebugLog call appends one flushed line to "yyyymmdd_N.log" in the directory of a
// program run from a build tree or an unpacked folder, or in $XDG_STATE_HOME/kvxsetup/ for an
// installed program and when the program's directory takes no file, a new file per run and
// per calendar day. Never reports an error:
// a line that cannot be written in either place is dropped.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/uDateTimeUtils.h"

// The object on whose behalf a line is written.
struct TLogSender {
  virtual ~TLogSender() = default;
  virtual std::string ClassName() const = 0;
  // Components have a name as well; plain objects have none.
  virtual std::optional<std::string> ComponentName() const { return std::nullopt; }
};

// Any thread. With the switch off the cost is one flag test.
void DebugLog(std::string_view Text, const TLogSender* Sender = nullptr, int32_t Code = 0,
              int32_t Point = 0);

// Program start: reads the "DEBUG" switch, makes the calling thread the main thread and
// lets DebugLog write. Program end: stops writing and closes the file.
void StartDebugLog();
void ShutdownDebugLog();

// Starts the log for the lifetime of the object.
class TDebugLogSession {
 public:
  TDebugLogSession() { StartDebugLog(); }
  ~TDebugLogSession() { ShutdownDebugLog(); }
  TDebugLogSession(const TDebugLogSession&) = delete;
  TDebugLogSession& operator=(const TDebugLogSession&) = delete;
};

// Called with the full path of each file the log creates (under the log's lock: it must not
// log). Empty: nobody is told.
void SetDebugLogOpenedHandler(std::function<void(const std::string&)> Handler);
